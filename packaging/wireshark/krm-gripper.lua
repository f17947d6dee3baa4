-- Wireshark dissector for the KRM gripper protocol over TCP.
--
-- Frame: preamble AA AA AA, command byte, 16-bit payload length (low byte
-- first), payload, CRC-16 (low byte first) over everything before it.
-- Answers begin their payload with a 16-bit status word; the gripper sends
-- them, and its reports, to the client that connected to it.
--
-- Registered on TCP port 1000 (preference "krm.port") and as a heuristic
-- dissector on every TCP port: a segment that starts with the preamble and
-- holds a complete frame with a matching checksum claims its conversation.
--
-- Which side is the gripper: the side that did not send the TCP handshake's
-- SYN; without a handshake in the capture, the side that answered a request
-- of the other (same command byte, a request's payload one way and an
-- answer's the other); until one of these is known, the side on the port of
-- the preference, then what the frame's own payload fits, then the lower port.
--
-- The bytes of each direction are read as one stream: a frame split across
-- segments is shown in the segment that completes it, one segment may carry
-- several frames, bytes between frames are shown and skipped, and a false
-- preamble (a frame whose checksum does not match, or that cannot be
-- complete, before the next preamble that starts a good frame) is cut short
-- there, as `krm-cli decode` does. A frame that the capture ends inside gets
-- an expert warning.
--
-- Requests are linked with their answers, a motion's pending answer with its
-- final answer, both ways, with the response time; an answer without a
-- request and a request without an answer get expert notes. Links forward in
-- the capture and the notes that need its end appear from the second pass on
-- (Wireshark's window, tshark -2).
--
-- Installed by the krm-commander package into Wireshark's global Lua plugin
-- folder; for a single run: tshark -X lua_script:krm-gripper.lua

local krm = Proto("krm", "KRM gripper protocol")

local bit = bit32 or bit

local PREAMBLE = 0xAA
local HEADER_SIZE = 6   -- preamble, command, length
local FRAME_OVERHEAD = 8 -- header and checksum

-- Command bytes and their names.
local command_names = {
    [0x20] = "HOMING", [0x21] = "GOTO", [0x22] = "STOP", [0x23] = "FAST_STOP",
    [0x24] = "FAST_STOP_ACK", [0x25] = "GRASP_RAW", [0x26] = "RELEASE_RAW",
    [0x27] = "GRASP_PROFILE", [0x28] = "RELEASE_PROFILE",
    [0x30] = "SET_ACCELERATION", [0x31] = "GET_ACCELERATION",
    [0x32] = "SET_FORCE_LIMIT", [0x33] = "GET_FORCE_LIMIT",
    [0x34] = "SET_SOFT_LIMITS", [0x35] = "GET_SOFT_LIMITS",
    [0x36] = "CLEAR_SOFT_LIMITS", [0x37] = "OVERDRIVE_MODE", [0x38] = "TARE",
    [0x40] = "GET_SYSTEM_STATE", [0x41] = "GET_GRASPING_STATE",
    [0x42] = "GET_GRASPING_STATS", [0x43] = "GET_POS", [0x44] = "GET_SPEED",
    [0x45] = "GET_FORCE", [0x50] = "GET_SYSINFO", [0x51] = "SET_DEVICE_TAG",
    [0x52] = "GET_DEVICE_TAG", [0x53] = "GET_SYSTEM_LIMITS",
}

-- Status codes: symbolic names and the texts an operator sees.
local status_names = {
    [0] = "E_SUCCESS", "E_NOT_AVAILABLE", "E_NO_SENSOR", "E_NOT_INITIALIZED",
    "E_ALREADY_RUNNING", "E_FEATURE_NOT_SUPPORTED", "E_INCONSISTENT_DATA",
    "E_TIMEOUT", "E_READ_ERROR", "E_WRITE_ERROR", "E_INSUFFICIENT_RESOURCES",
    "E_CHECKSUM_ERROR", "E_NO_PARAM_EXPECTED", "E_NOT_ENOUGH_PARAMS",
    "E_CMD_UNKNOWN", "E_CMD_FORMAT_ERROR", "E_ACCESS_DENIED", "E_ALREADY_OPEN",
    "E_CMD_FAILED", "E_CMD_ABORTED", "E_INVALID_HANDLE", "E_NOT_FOUND",
    "E_NOT_OPENED", "E_IO_ERROR", "E_INVALID_PARAMETER",
    "E_INDEX_OUT_OF_BOUNDS", "E_CMD_PENDING", "E_OVERRUN", "E_RANGE_ERROR",
    "E_AXIS_BLOCKED", "E_ALREADY_CLOSED", "E_FILE_EXISTS",
}
local status_texts = {
    [0] = "No error", "Service or data is not available", nil,
    "The device is not initialized", "The requested service is already running",
    "The asked feature is not supported", "One or more dependent parameters mismatch",
    "Timeout error", "Error while reading from a device", "Error while writing to a device",
    "No memory available", "Checksum error", "No parameters expected",
    "Not enough parameters", "Unknown command", "Command format error",
    "Access denied", "Interface already open", "Command failed", "Command aborted",
    "Invalid handle", "Device or file not found", "Device or file not open",
    "General I/O-Error", "Invalid parameter", "Index out of bounds",
    "Command pending...", "Data overrun", "Range error", "Axis is blocked",
    "Interface is already closed", "File already exists",
}

local function status_text(code)
    return status_texts[code] or ("Internal error, unknown error code (" .. code .. ")")
end

local grasping_states = {
    [0] = "idle", "grasping", "no part", "part lost", "holding", "releasing",
}

-- System-state flags: mask, field name, text.
local system_flags = {
    {0x1, "referenced", "Referenced"}, {0x2, "moving", "Moving"},
    {0x4, "blocked_minus", "Blocked minus"}, {0x8, "blocked_plus", "Blocked plus"},
    {0x10, "soft_limit_minus", "Soft limit minus"}, {0x20, "soft_limit_plus", "Soft limit plus"},
    {0x40, "axis_stopped", "Axis stopped"}, {0x80, "target_pos_reached", "Target pos reached"},
    {0x100, "overdrive_mode", "Overdrive mode"}, {0x1000, "fast_stop", "Fast stop"},
    {0x2000, "temperature_warning", "Temperature warning"},
    {0x4000, "temperature_fault", "Temperature fault"}, {0x8000, "power_fault", "Power fault"},
    {0x10000, "current_fault", "Current fault"}, {0x20000, "finger_fault", "Finger fault"},
    {0x40000, "command_failure", "Command failure"}, {0x80000, "script_running", "Script is running"},
    {0x100000, "script_failure", "Script failure"},
}

local checksum_states = {[0] = "Bad", [1] = "Good"}

local f = {
    preamble = ProtoField.bytes("krm.preamble", "Preamble"),
    command = ProtoField.uint8("krm.command", "Command", base.HEX, command_names),
    length = ProtoField.uint16("krm.length", "Length", base.DEC),
    kind = ProtoField.string("krm.kind", "Kind"),
    status = ProtoField.uint16("krm.status", "Status", base.DEC, status_names),
    status_text = ProtoField.string("krm.status.text", "Status text"),
    payload = ProtoField.bytes("krm.payload", "Payload"),
    checksum = ProtoField.uint16("krm.checksum", "Checksum", base.HEX),
    checksum_calculated = ProtoField.uint16("krm.checksum.calculated", "Calculated checksum", base.HEX),
    checksum_status = ProtoField.uint8("krm.checksum.status", "Checksum status", base.DEC, checksum_states),
    between = ProtoField.bytes("krm.between_frames", "Bytes between frames"),
    cut_short = ProtoField.bytes("krm.cut_short", "Frame cut short"),
    continued = ProtoField.framenum("krm.continued_in", "Frame continued in", base.NONE),
    request_in = ProtoField.framenum("krm.request_in", "Request in", base.NONE, frametype.REQUEST),
    response_in = ProtoField.framenum("krm.response_in", "Answer in", base.NONE, frametype.RESPONSE),
    pending_in = ProtoField.framenum("krm.pending_in", "Pending answer in", base.NONE, frametype.RESPONSE),
    final_in = ProtoField.framenum("krm.final_in", "Final answer in", base.NONE, frametype.RESPONSE),
    response_time = ProtoField.relative_time("krm.time", "Response time"),
    report = ProtoField.bool("krm.report", "Report sent by the gripper on its own"),

    homing_direction = ProtoField.uint8("krm.homing.direction", "Homing direction", base.DEC,
        {[0] = "default", [1] = "opening", [2] = "closing"}),
    goto_flags = ProtoField.uint8("krm.goto.flags", "Goto flags", base.HEX),
    goto_relative = ProtoField.bool("krm.goto.relative", "Relative", 8, nil, 0x01),
    position = ProtoField.float("krm.position", "Position"),
    width = ProtoField.float("krm.width", "Width"),
    speed = ProtoField.float("krm.speed", "Speed"),
    acceleration = ProtoField.float("krm.acceleration", "Acceleration"),
    force = ProtoField.float("krm.force", "Force"),
    force_limit = ProtoField.float("krm.force_limit", "Force limit"),
    soft_limit_minus = ProtoField.float("krm.soft_limit.minus", "Soft limit minus"),
    soft_limit_plus = ProtoField.float("krm.soft_limit.plus", "Soft limit plus"),
    ack = ProtoField.string("krm.ack", "Acknowledgement"),
    overdrive = ProtoField.uint8("krm.overdrive", "Overdrive mode", base.DEC, {[0] = "off", [1] = "on"}),
    reset = ProtoField.uint8("krm.stats.reset", "Reset after reading", base.DEC, {[0] = "no", [1] = "yes"}),
    report_options = ProtoField.uint8("krm.report.options", "Report options", base.HEX),
    report_enable = ProtoField.bool("krm.report.enable", "Enable", 8, nil, 0x01),
    report_on_change = ProtoField.bool("krm.report.on_change", "Only when changed", 8, nil, 0x02),
    report_period = ProtoField.uint16("krm.report.period", "Report period", base.DEC),
    device_tag = ProtoField.string("krm.device_tag", "Device tag"),

    system_state = ProtoField.uint32("krm.system_state", "System state", base.HEX),
    grasping_state = ProtoField.uint8("krm.grasping_state", "Grasping state", base.DEC, grasping_states),
    grasps = ProtoField.uint32("krm.stats.grasps", "Grasps", base.DEC),
    not_found = ProtoField.uint16("krm.stats.not_found", "Parts not found", base.DEC),
    lost = ProtoField.uint16("krm.stats.lost", "Parts lost", base.DEC),
    gripper_type = ProtoField.uint8("krm.sysinfo.type", "Gripper type", base.DEC),
    hardware_revision = ProtoField.uint8("krm.sysinfo.hardware_revision", "Hardware revision", base.DEC),
    firmware_revision = ProtoField.uint16("krm.sysinfo.firmware_revision", "Firmware revision", base.DEC),
    serial_number = ProtoField.uint32("krm.sysinfo.serial_number", "Serial number", base.DEC),
    stroke = ProtoField.float("krm.limits.stroke", "Stroke"),
    min_speed = ProtoField.float("krm.limits.min_speed", "Minimum speed"),
    max_speed = ProtoField.float("krm.limits.max_speed", "Maximum speed"),
    min_acceleration = ProtoField.float("krm.limits.min_acceleration", "Minimum acceleration"),
    max_acceleration = ProtoField.float("krm.limits.max_acceleration", "Maximum acceleration"),
    min_force = ProtoField.float("krm.limits.min_force", "Minimum force"),
    max_force = ProtoField.float("krm.limits.max_force", "Maximum force"),
    extra = ProtoField.float("krm.limits.extra", "Extra"),
}
local flag_fields = {}
for _, flag in ipairs(system_flags) do
    local field = ProtoField.bool("krm.system_state." .. flag[2], flag[3], 32, nil, flag[1])
    flag_fields[#flag_fields + 1] = field
    f["flag_" .. flag[2]] = field
end
krm.fields = f

local ef = {
    bad_checksum = ProtoExpert.new("krm.checksum.bad", "Checksum does not match",
        expert.group.CHECKSUM, expert.severity.WARN),
    payload_size = ProtoExpert.new("krm.payload.size", "Payload size does not fit the command",
        expert.group.MALFORMED, expert.severity.WARN),
    between = ProtoExpert.new("krm.between_frames.expert", "Bytes between frames skipped",
        expert.group.PROTOCOL, expert.severity.NOTE),
    error_status = ProtoExpert.new("krm.status.error", "Gripper answered with an error",
        expert.group.RESPONSE_CODE, expert.severity.NOTE),
    cut_short = ProtoExpert.new("krm.cut_short.expert", "Frame cut short by the next preamble",
        expert.group.MALFORMED, expert.severity.WARN),
    capture_end = ProtoExpert.new("krm.capture_end", "Frame cut off by the end of the capture",
        expert.group.MALFORMED, expert.severity.WARN),
    no_request = ProtoExpert.new("krm.no_request", "Answer without a request",
        expert.group.SEQUENCE, expert.severity.NOTE),
    no_answer = ProtoExpert.new("krm.no_answer", "Request without an answer",
        expert.group.SEQUENCE, expert.severity.NOTE),
}
krm.experts = ef

krm.prefs.port = Pref.uint("TCP port", 1000, "TCP port of the gripper")
krm.prefs.heuristic = Pref.bool("Recognise frames on other ports", true,
    "Claim a TCP conversation on any port whose segment starts with a frame with a matching checksum")

-- The frame's CRC-16: table of polynomial 0x1021 built most significant bit
-- first, applied with a right-shifting register started at 0xFFFF.
local crc_table = {}
for i = 0, 255 do
    local value = bit.lshift(i, 8)
    for _ = 1, 8 do
        if bit.band(value, 0x8000) ~= 0 then
            value = bit.bxor(bit.lshift(value, 1), 0x1021)
        else
            value = bit.lshift(value, 1)
        end
        value = bit.band(value, 0xFFFF)
    end
    crc_table[i] = value
end

local function crc16(bytes)
    local crc = 0xFFFF
    for i = 1, #bytes do
        crc = bit.bxor(crc_table[bit.band(bit.bxor(crc, bytes:byte(i)), 0xFF)], bit.rshift(crc, 8))
    end
    return crc
end

local function fmt(value)
    return string.format("%.2f", value)
end

local function add_float(tree, field, range, unit)
    local value = range:le_float()
    tree:add_le(field, range):append_text(" " .. unit)
    return value
end

local function add_system_state(tree, range)
    local item = tree:add_le(f.system_state, range)
    local names = {}
    local state = range:le_uint()
    for i, flag in ipairs(system_flags) do
        item:add_le(flag_fields[i], range)
        if bit.band(state, flag[1]) ~= 0 then names[#names + 1] = flag[3] end
    end
    item:append_text(#names > 0 and (" (" .. table.concat(names, ", ") .. ")") or " (no flags set)")
    return #names > 0 and table.concat(names, ", ") or "no flags set"
end

-- Payload layouts by command: request parameters and answer results. Each
-- entry has the size it expects (nil = any size) and adds the fields,
-- returning a short summary for the Info column.
local function report_request(tree, r)
    local options = tree:add(f.report_options, r(0, 1))
    options:add(f.report_enable, r(0, 1))
    options:add(f.report_on_change, r(0, 1))
    tree:add_le(f.report_period, r(1, 2)):append_text(" ms")
    if bit.band(r(0, 1):uint(), 1) == 0 then return "reports off" end
    return "reports every " .. r(1, 2):le_uint() .. " ms"
end

local function motion_request(field, label)
    return function(tree, r)
        return label .. " " .. fmt(add_float(tree, field, r(0, 4), "mm")) .. " mm, speed "
            .. fmt(add_float(tree, f.speed, r(4, 4), "mm/s")) .. " mm/s"
    end
end
local goto_request = motion_request(f.position, "position")
local width_request = motion_request(f.width, "width")

local function single(field, label, unit)
    return {size = 4, add = function(tree, r)
        return label .. " " .. fmt(add_float(tree, field, r(0, 4), unit)) .. " " .. unit
    end}
end

local report_layout = {size = 3, add = report_request}

local requests = {
    [0x20] = {size = 1, add = function(tree, r)
        tree:add(f.homing_direction, r(0, 1))
        return "direction " .. r(0, 1):uint()
    end},
    [0x21] = {size = 9, add = function(tree, r)
        local flags = tree:add(f.goto_flags, r(0, 1))
        flags:add(f.goto_relative, r(0, 1))
        return goto_request(tree, r(1, 8))
    end},
    [0x22] = {size = 0}, [0x23] = {size = 0},
    [0x24] = {size = 3, add = function(tree, r)
        tree:add(f.ack, r(0, 3))
        return "\"" .. r(0, 3):string() .. "\""
    end},
    [0x25] = {size = 8, add = width_request},
    [0x26] = {size = 8, add = width_request},
    [0x27] = {size = 16, add = function(tree, r)
        add_float(tree, f.width, r(0, 4), "mm")
        add_float(tree, f.speed, r(4, 4), "mm/s")
        add_float(tree, f.acceleration, r(8, 4), "mm/s²")
        add_float(tree, f.force, r(12, 4), "N")
        return "width " .. fmt(r(0, 4):le_float()) .. " mm, force " .. fmt(r(12, 4):le_float()) .. " N"
    end},
    [0x28] = {size = 12, add = function(tree, r)
        add_float(tree, f.width, r(0, 4), "mm")
        add_float(tree, f.speed, r(4, 4), "mm/s")
        add_float(tree, f.acceleration, r(8, 4), "mm/s²")
        return "width " .. fmt(r(0, 4):le_float()) .. " mm"
    end},
    [0x30] = single(f.acceleration, "acceleration", "mm/s²"),
    [0x31] = {size = 0},
    [0x32] = single(f.force_limit, "force limit", "N"),
    [0x33] = {size = 0},
    [0x34] = {size = 8, add = function(tree, r)
        return "minus " .. fmt(add_float(tree, f.soft_limit_minus, r(0, 4), "mm")) .. " mm, plus "
            .. fmt(add_float(tree, f.soft_limit_plus, r(4, 4), "mm")) .. " mm"
    end},
    [0x35] = {size = 0}, [0x36] = {size = 0},
    [0x37] = {size = 1, add = function(tree, r)
        tree:add(f.overdrive, r(0, 1))
        return r(0, 1):uint() == 1 and "on" or "off"
    end},
    [0x38] = {size = 0},
    [0x42] = {size = 1, add = function(tree, r)
        tree:add(f.reset, r(0, 1))
        return r(0, 1):uint() == 1 and "reset" or ""
    end},
    [0x50] = {size = 0},
    [0x51] = {add = function(tree, r)
        tree:add(f.device_tag, r)
        return "\"" .. r:string() .. "\""
    end},
    [0x52] = {size = 0}, [0x53] = {size = 0},
}
-- The readings take an empty payload (read once) or 3 bytes (reports).
for _, command in ipairs({0x40, 0x41, 0x43, 0x44, 0x45}) do
    requests[command] = {sizes = {[0] = true, [3] = true}, add = report_request}
end

local results = {
    [0x31] = single(f.acceleration, "acceleration", "mm/s²"),
    [0x33] = single(f.force_limit, "force limit", "N"),
    [0x35] = {size = 8, add = function(tree, r)
        return "minus " .. fmt(add_float(tree, f.soft_limit_minus, r(0, 4), "mm")) .. " mm, plus "
            .. fmt(add_float(tree, f.soft_limit_plus, r(4, 4), "mm")) .. " mm"
    end},
    [0x40] = {size = 4, add = function(tree, r) return add_system_state(tree, r) end},
    [0x41] = {size = 1, add = function(tree, r)
        tree:add(f.grasping_state, r(0, 1))
        return grasping_states[r(0, 1):uint()] or ("grasping state " .. r(0, 1):uint())
    end},
    [0x42] = {size = 8, add = function(tree, r)
        tree:add_le(f.grasps, r(0, 4))
        tree:add_le(f.not_found, r(4, 2))
        tree:add_le(f.lost, r(6, 2))
        return "grasps " .. r(0, 4):le_uint() .. ", not found " .. r(4, 2):le_uint() .. ", lost " .. r(6, 2):le_uint()
    end},
    [0x43] = single(f.position, "position", "mm"),
    [0x44] = single(f.speed, "speed", "mm/s"),
    [0x45] = single(f.force, "force", "N"),
    [0x50] = {size = 8, add = function(tree, r)
        tree:add(f.gripper_type, r(0, 1))
        tree:add(f.hardware_revision, r(1, 1))
        tree:add_le(f.firmware_revision, r(2, 2))
        tree:add_le(f.serial_number, r(4, 4))
        return "type " .. r(0, 1):uint() .. ", serial number " .. r(4, 4):le_uint()
    end},
    [0x52] = {add = function(tree, r)
        tree:add(f.device_tag, r)
        return "\"" .. r:string() .. "\""
    end},
    [0x53] = {size = 32, add = function(tree, r)
        add_float(tree, f.stroke, r(0, 4), "mm")
        add_float(tree, f.min_speed, r(4, 4), "mm/s")
        add_float(tree, f.max_speed, r(8, 4), "mm/s")
        add_float(tree, f.min_acceleration, r(12, 4), "mm/s²")
        add_float(tree, f.max_acceleration, r(16, 4), "mm/s²")
        add_float(tree, f.min_force, r(20, 4), "N")
        add_float(tree, f.max_force, r(24, 4), "N")
        add_float(tree, f.extra, r(28, 4), "N")
        return "stroke " .. fmt(r(0, 4):le_float()) .. " mm"
    end},
}

local function fits(layout, size)
    if layout.sizes then return layout.sizes[size] == true end
    if layout.size then return layout.size == size end
    return size > 0
end

-- Adds the payload's fields by its layout; a payload of another size than
-- the layout's is shown as bytes with an expert warning.
local function add_payload(tree, layout, range, size)
    if size == 0 then
        if layout ~= nil and not fits(layout, 0) then
            tree:add_proto_expert_info(ef.payload_size, "Empty payload does not fit the command")
        end
        return ""
    end
    if layout == nil or layout.add == nil then
        if layout ~= nil then tree:add_proto_expert_info(ef.payload_size) end
        tree:add(f.payload, range)
        return ""
    end
    if not fits(layout, size) then
        tree:add(f.payload, range)
        tree:add_proto_expert_info(ef.payload_size,
            "Payload of " .. size .. " bytes does not fit the command")
        return ""
    end
    return layout.add(tree, range(0, size)) or ""
end

-- Dissects the complete frame at offset, a request or an answer; returns
-- its tree item and a summary for the Info column.
local function dissect_frame(tvb, tree, offset, answer)
    local command = tvb(offset + 3, 1):uint()
    local length = tvb(offset + 4, 2):le_uint()
    local frame_size = length + FRAME_OVERHEAD
    local name = command_names[command] or string.format("unknown ID(%d)", command)
    local kind = answer and "Answer" or "Request"
    local subtree = tree:add(krm, tvb(offset, frame_size), "KRM gripper protocol, " .. name .. " " .. kind:lower())

    subtree:add(f.preamble, tvb(offset, 3))
    subtree:add(f.command, tvb(offset + 3, 1))
    subtree:add_le(f.length, tvb(offset + 4, 2))
    subtree:add(f.kind, kind):set_generated()

    local summary = name
    local detail = ""
    local payload_offset = offset + HEADER_SIZE
    if answer then
        if length >= 2 then
            local code = tvb(payload_offset, 2):le_uint()
            local status_item = subtree:add_le(f.status, tvb(payload_offset, 2))
            local low = bit.band(code, 0xFF)
            subtree:add(f.status_text, status_text(low)):set_generated()
            summary = summary .. " " .. (status_names[low] or ("status " .. code))
            if low ~= 0 and low ~= 26 then status_item:add_proto_expert_info(ef.error_status) end
            local size = length - 2
            if size > 0 then
                local range = tvb(payload_offset + 2, size)
                if low == 0 and results[command] then
                    detail = add_payload(subtree, results[command], range, size)
                else
                    subtree:add(f.payload, range)
                end
            end
        elseif length > 0 then
            subtree:add(f.payload, tvb(payload_offset, length))
            subtree:add_proto_expert_info(ef.payload_size, "Answer too short to carry a status")
        end
    else
        local range = length > 0 and tvb(payload_offset, length) or nil
        detail = add_payload(subtree, requests[command], range, length)
    end
    if detail ~= "" then summary = summary .. ": " .. detail end

    local checksum_offset = payload_offset + length
    local sent = tvb(checksum_offset, 2):le_uint()
    local calculated = crc16(tvb:raw(offset, HEADER_SIZE + length))
    local checksum_item = subtree:add_le(f.checksum, tvb(checksum_offset, 2))
    subtree:add(f.checksum_calculated, calculated):set_generated()
    subtree:add(f.checksum_status, sent == calculated and 1 or 0):set_generated()
    if sent ~= calculated then
        checksum_item:add_proto_expert_info(ef.bad_checksum,
            string.format("Checksum 0x%04x does not match, 0x%04x expected", sent, calculated))
        summary = summary .. " [bad checksum]"
    end
    return subtree, kind .. " " .. summary
end

-- ---------------------------------------------------------------------------
-- Each direction of a conversation read as one byte stream.

local AA = string.char(PREAMBLE)

local function le16(data, at)
    return data:byte(at) + data:byte(at + 1) * 256
end

-- Whether a preamble starts at `at` of `data` (a string, from 1 on): the
-- last three of a run of AA bytes, so AA AA AA AA 20 is one stray byte
-- before a frame. Nil when only later bytes can tell.
local function preamble_at(data, at)
    for i = at, math.min(at + 2, #data) do
        if data:byte(i) ~= PREAMBLE then return false end
    end
    if at + 3 > #data then return nil end
    return data:byte(at + 3) ~= PREAMBLE
end

-- The first place at or after `from` where a preamble starts, or nil; with
-- `or_maybe`, also a run of AA bytes at the end that may still become one.
local function next_preamble(data, from, or_maybe)
    local at = data:find(AA, from, true)
    while at do
        local found = preamble_at(data, at)
        if found or (found == nil and or_maybe) then return at end
        at = data:find(AA, at + 1, true)
    end
    return nil
end

-- Whether a complete frame with a matching checksum starts at `at`.
local function good_frame_at(data, at)
    if at + HEADER_SIZE - 1 > #data then return false end
    local size = le16(data, at + 4) + FRAME_OVERHEAD
    if at + size - 1 > #data then return false end
    return crc16(data:sub(at, at + size - 3)) == le16(data, at + size - 2)
end

-- The first preamble after the one at `start` that starts a good frame and
-- lies before `stop` (nil: anywhere in the data).
local function good_frame_after(data, start, stop)
    local at = next_preamble(data, start + 3)
    while at and (stop == nil or at < stop) do
        if good_frame_at(data, at) then return at end
        at = next_preamble(data, at + 1)
    end
    return nil
end

-- Splits the stream's bytes into frames, bytes between frames and frames cut
-- short by a false preamble, each {kind, from, size}. The second result is
-- where the bytes that have to wait for the next segment begin, or nil.
--
-- A frame ends at its checksum. A frame whose checksum does not match is cut
-- short at the next preamble inside it; one that the data does not yet hold
-- whole, at the next preamble that starts a good frame (a false length would
-- otherwise hide every frame up to it).
local function scan(data)
    local items = {}
    local at = 1
    while at <= #data do
        local start = next_preamble(data, at, true)
        local stop = start or #data + 1
        if stop > at then items[#items + 1] = {kind = "between", from = at, size = stop - at} end
        if not start or not preamble_at(data, start) or start + HEADER_SIZE - 1 > #data then
            return items, start
        end
        local size = le16(data, start + 4) + FRAME_OVERHEAD
        local cut
        if start + size - 1 <= #data then
            local inside = next_preamble(data, start + 3)
            if not good_frame_at(data, start) and inside and inside < start + size then cut = inside end
        else
            cut = good_frame_after(data, start)
            if not cut then return items, start end
        end
        if cut then
            items[#items + 1] = {kind = "cut", from = start, size = cut - start}
            at = cut
        else
            items[#items + 1] = {kind = "frame", from = start, size = size}
            at = start + size
        end
    end
    return items, nil
end

-- ---------------------------------------------------------------------------
-- What the first pass learns of each conversation and packet.

local tcp_stream = Field.new("tcp.stream")
local conversations = {} -- by TCP stream: client side, carried bytes, open requests
local packets = {}       -- by frame number: the packet's bytes, frames and links

-- The readings a gripper also sends on its own, as reports.
local reportable = {[0x40] = true, [0x41] = true, [0x43] = true, [0x44] = true, [0x45] = true}
local STATUS_PENDING = 26
local HIGHEST_STATUS = 31

local function side(address, port)
    return tostring(address) .. ":" .. port
end

local function conversation_of(pinfo)
    local stream = tcp_stream()
    local key = stream and stream.value or side(pinfo.src, pinfo.src_port) .. "/" .. side(pinfo.dst, pinfo.dst_port)
    local c = conversations[key]
    if not c then
        c = {carry = {}, asked = {}, waiting = {}, motions = {}}
        conversations[key] = c
    end
    return c
end

-- The TCP handshake names the client: the side that sends SYN without ACK.
local handshake = Listener.new("tcp", "tcp.flags.syn == 1 && tcp.flags.ack == 0")
function handshake.packet(pinfo)
    if not pinfo.visited then conversation_of(pinfo).client = side(pinfo.src, pinfo.src_port) end
end

local function fits_request(command, length)
    local layout = requests[command]
    return layout ~= nil and fits(layout, length)
end

local function fits_answer(data, at, command, length)
    if length < 2 then return false end
    local status = le16(data, at + HEADER_SIZE)
    if status > HIGHEST_STATUS then return false end
    return status ~= 0 or results[command] == nil or fits(results[command], length - 2)
end

-- Whether the frame at `at` came from the gripper, by what is known so far.
local function from_gripper(c, pinfo, data, at)
    local sender = side(pinfo.src, pinfo.src_port)
    if c.client then return sender ~= c.client end
    local port = krm.prefs.port
    if pinfo.src_port == port and pinfo.dst_port ~= port then return true end
    if pinfo.dst_port == port and pinfo.src_port ~= port then return false end
    local command, length = data:byte(at + 3), le16(data, at + 4)
    local request, answer = fits_request(command, length), fits_answer(data, at, command, length)
    if request ~= answer then return answer end
    return pinfo.src_port < pinfo.dst_port
end

-- A frame answers a request of the other side when that side sent the same
-- command byte as a request and this one fits an answer: the other side is
-- then the client.
local function learn_client(c, pinfo, data, at)
    local sender, receiver = side(pinfo.src, pinfo.src_port), side(pinfo.dst, pinfo.dst_port)
    local command, length = data:byte(at + 3), le16(data, at + 4)
    c.asked[sender] = c.asked[sender] or {}
    c.asked[receiver] = c.asked[receiver] or {}
    if not c.client and c.asked[receiver][command] and fits_answer(data, at, command, length) then
        c.client = receiver
    end
    c.asked[receiver][command] = nil
    if fits_request(command, length) then c.asked[sender][command] = true end
end

-- Links the frame's record with the request it answers or the pending
-- answer it ends: first answers go to the oldest request of the command
-- that has none, later ones to the oldest motion still pending.
local function link(c, record, data, at)
    local command = record.command
    if not record.answer then
        c.waiting[command] = c.waiting[command] or {}
        table.insert(c.waiting[command], record)
        return
    end
    local length = le16(data, at + 4)
    local status = length >= 2 and le16(data, at + HEADER_SIZE) or nil
    local waiting, motions = c.waiting[command] or {}, c.motions[command] or {}
    if #waiting > 0 then
        local request = table.remove(waiting, 1)
        record.request, request.response = request, record
        if status == STATUS_PENDING then
            c.motions[command] = motions
            table.insert(motions, record)
        end
    elseif #motions > 0 and status ~= STATUS_PENDING then
        local pending = table.remove(motions, 1)
        record.request, record.pending, pending.final = pending.request, pending, record
    elseif reportable[command] then
        record.report = true
    else
        record.orphan = true
    end
end

-- First pass: the packet's bytes after those its direction carried over, cut
-- into items, each frame with its direction and links.
local function read_packet(tvb, pinfo)
    local c = conversation_of(pinfo)
    local sender = side(pinfo.src, pinfo.src_port)
    local carried = c.carry[sender]
    local data = tvb:raw()
    local packet = {conversation = c, sender = sender}
    if carried then
        data = carried.data .. data
        packet.data = data
        carried.packet.continued_in = pinfo.number
    end
    local items, waiting_from = scan(data)
    for _, item in ipairs(items) do
        if item.kind == "frame" then
            learn_client(c, pinfo, data, item.from)
            local record = {packet = pinfo.number, time = pinfo.abs_ts, command = data:byte(item.from + 3),
                answer = from_gripper(c, pinfo, data, item.from)}
            link(c, record, data, item.from)
            item.record = record
        end
    end
    packet.items = items
    if waiting_from then
        packet.waiting = {from = waiting_from, size = #data - waiting_from + 1}
        c.carry[sender] = {data = data:sub(waiting_from), packet = packet}
    else
        c.carry[sender] = nil
    end
    packets[pinfo.number] = packet
    return packet
end

local function seconds(value)
    local whole = math.floor(value)
    return NSTime.new(whole, math.floor((value - whole) * 1e9 + 0.5))
end

local function add_links(tree, record, answer, visited)
    local generated = {}
    if record.request then
        generated[#generated + 1] = tree:add(f.request_in, record.request.packet)
        generated[#generated + 1] = tree:add(f.response_time, seconds(record.time - record.request.time))
    end
    if record.pending then generated[#generated + 1] = tree:add(f.pending_in, record.pending.packet) end
    if record.response then generated[#generated + 1] = tree:add(f.response_in, record.response.packet) end
    if record.final then generated[#generated + 1] = tree:add(f.final_in, record.final.packet) end
    if record.report then generated[#generated + 1] = tree:add(f.report, true) end
    for _, item in ipairs(generated) do item:set_generated() end
    if record.orphan then tree:add_proto_expert_info(ef.no_request) end
    if not answer and not record.response and visited then tree:add_proto_expert_info(ef.no_answer) end
end

function krm.dissector(tvb, pinfo, tree)
    local packet = packets[pinfo.number]
    if not pinfo.visited or not packet then packet = read_packet(tvb, pinfo) end
    local bytes = tvb
    if packet.data then bytes = ByteArray.new(packet.data, true):tvb("KRM stream") end
    local client = packet.conversation.client
    local summaries = {}
    for _, item in ipairs(packet.items) do
        local range = bytes(item.from - 1, item.size)
        if item.kind == "between" then
            tree:add(f.between, range):add_proto_expert_info(ef.between,
                "Bytes between frames skipped: " .. item.size)
            summaries[#summaries + 1] = item.size .. (item.size == 1 and " byte" or " bytes") .. " between frames"
        elseif item.kind == "cut" then
            tree:add(f.cut_short, range):add_proto_expert_info(ef.cut_short,
                "Frame cut short by the next preamble after " .. item.size .. " bytes")
            summaries[#summaries + 1] = "frame cut short"
        else
            local record = item.record
            local answer = record.answer
            if client then answer = packet.sender ~= client end
            local subtree, summary = dissect_frame(bytes, tree, item.from - 1, answer)
            add_links(subtree, record, answer, pinfo.visited)
            summaries[#summaries + 1] = summary
        end
    end
    if packet.waiting then
        local item = tree:add(krm, bytes(packet.waiting.from - 1, packet.waiting.size),
            "KRM gripper protocol, start of a frame")
        if packet.continued_in then
            item:add(f.continued, packet.continued_in):set_generated()
        elseif pinfo.visited then
            item:add_proto_expert_info(ef.capture_end)
            summaries[#summaries + 1] = "frame cut off by the end of the capture"
        end
        if not packet.continued_in then summaries[#summaries + 1] = "start of a frame" end
    end
    pinfo.cols.protocol = "KRM"
    pinfo.cols.info = table.concat(summaries, "; ")
    return tvb:len()
end

-- Heuristic: the segment starts with the preamble and holds a complete frame
-- whose checksum matches; the conversation then belongs to this dissector.
local function heuristic(tvb, pinfo, tree)
    if not krm.prefs.heuristic then return false end
    local available = tvb:len()
    if available < FRAME_OVERHEAD then return false end
    if tvb(0, 3):bytes():tohex() ~= "AAAAAA" then return false end
    local length = tvb(4, 2):le_uint()
    if available < length + FRAME_OVERHEAD then return false end
    if crc16(tvb:raw(0, HEADER_SIZE + length)) ~= tvb(HEADER_SIZE + length, 2):le_uint() then return false end
    pinfo.conversation = krm
    krm.dissector(tvb, pinfo, tree)
    return true
end

local registered_port = krm.prefs.port
DissectorTable.get("tcp.port"):add(registered_port, krm)
krm:register_heuristic("tcp", heuristic)

function krm.prefs_changed()
    if krm.prefs.port ~= registered_port then
        local ports = DissectorTable.get("tcp.port")
        ports:remove(registered_port, krm)
        registered_port = krm.prefs.port
        ports:add(registered_port, krm)
    end
end
