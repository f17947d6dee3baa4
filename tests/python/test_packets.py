"""Gripper.packets(): the frames on the link, taken one by one."""
import time

import krm
import pytest

GET_SYSINFO = 0x50


def test_packets_show_a_request_and_its_answer_in_order_and_end(sim):
    with krm.Gripper(sim.connection, reports=None) as g:
        started = time.monotonic()
        with g.packets(timeout=0.5) as packets:
            assert isinstance(packets, krm.PacketStream)
            info = g.info()
            frames = list(packets)
        # Nothing else is on the link: no reports were switched on.
        assert [(p.direction, p.command) for p in frames] == [("sent", GET_SYSINFO), ("received", GET_SYSINFO)]
        sent, received = frames
        assert sent.ok() and received.ok()
        assert sent.payload == b""
        # The answer: status word "success", then the 8 bytes of the info.
        assert received.payload[:2] == b"\0\0" and len(received.payload) == 10
        assert received.payload[6:] == info.serial_number.to_bytes(4, "little")
        assert sent.time <= received.time
        # It ended when its time was up, and stays ended.
        assert time.monotonic() - started >= 0.5
        with pytest.raises(StopIteration):
            next(packets)
        assert packets.dropped == 0
        assert repr(packets) == "<krm.PacketStream, 0 packets dropped>"

        # One without a time limit ends when closed, frames waiting or not.
        endless = g.packets()
        g.info()
        endless.close()
        with pytest.raises(StopIteration):
            next(endless)
