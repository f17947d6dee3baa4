#pragma once
// pcap and pcapng captures, read through libpcap: the TCP payload of each
// connection, every direction as one byte stream in sequence order (a
// segment that came early waits for the ones before it, a retransmitted one
// counts once). The side that sent SYN is the client: its stream is "TX",
// the other "RX" ("TX 2", "RX 2" for a second connection). Without the
// handshake in the capture a stream is named by its addresses
// ("10.0.0.2:40000 > 10.0.0.1:1000") and its direction is left open.
// Link layers: Ethernet (with VLAN tags), raw IP, BSD loopback and Linux
// cooked capture (v1, v2); IPv4 and IPv6.
#include "CaptureInput.h"

#include <QByteArray>

#include <cstdio>

// Whether `start` begins like a pcap or pcapng file.
bool IsPcapStart(const QByteArray& start);

// Reads the capture from `stream` packet by packet and closes it; false
// with `error` when
// libpcap cannot read it (a damaged capture ends the reading with the
// streams read so far handed on).
bool ReadPcap(std::FILE* stream, TCaptureSink& sink, QString& error);
