-- tevrolink.lua: decodes the link between a PC and the host node of a Zelkora radio network
-- (one link frame per UDP datagram), and the device search on UDP port 12580.
--
-- Serial links are captured by the library (TEVROLINK_CAPTURE=FILE) as datagrams between
-- 127.0.0.1:10086 (the PC) and 127.0.0.2:12580 (the host node), so they decode as they are.
-- Load it with "tshark -X lua_script:tevrolink.lua", or install it into the analyser's
-- plugin folder. Everything read from a frame is bounds-checked: a short or inconsistent
-- frame is marked malformed, never a Lua error.

local bit = bit or bit32
local band, bor, bxor, rshift = bit.band, bit.bor, bit.bxor, bit.rshift

local proto = Proto("tevrolink", "Tevrolink host-node link")

proto.prefs.local_port = Pref.uint("Local UDP port", 10086, "The PC's UDP port on the link")
proto.prefs.remote_port = Pref.uint("Remote UDP port", 12580,
                                    "The host node's UDP port, also the device search port")

local TO_NODE, FROM_NODE = 1, 2

---------------------------------------------------------------------------------------------
-- Names

local COMMANDS = {
    [0x06] = "ClearHostNodeOutputFile", [0x07] = "GetHostMediaInfo",
    [0x12] = "SetFrequencyPointX1", [0x13] = "GetFrequencyPointX1",
    [0x14] = "SetHostNodeID", [0x15] = "GetHostNodeID",
    [0x16] = "SetNodeActive", [0x17] = "SetNodeInactive",
    [0x18] = "GetActiveNodeList", [0x19] = "GetNetworkNodeStatus",
    [0x1A] = "SetPeerNodeID", [0x1B] = "GetPeerNodeID",
    [0x22] = "StopHost", [0x23] = "QueryNodeStatus", [0x24] = "SetHostRTCTimer",
    [0x25] = "StartMonitorService", [0x26] = "StartNetCenter",
    [0x32] = "SetFrequencyPointX2", [0x33] = "GetFrequencyPointX2",
    [0x34] = "SetShellHandShake", [0x35] = "GetShellHandShake",
    [0x38] = "SetDeviceBaudRate", [0x39] = "SearchZelkoraNetwork",
    [0x3A] = "SetWirelessPower", [0x3B] = "GetWirelessPower",
    [0x70] = "GetFirmwareVersion", [0x71] = "SetHostNodeOutputFile",
}

-- Frames that are not a command and its reply.
local OTHER_KINDS = {
    [0x1C] = "Status query",
    [0x1D] = "Stream frame",
    [0x1F] = "Debug packet (kind 1)",
    [0x27] = "Link sync request",
    [0x28] = "Link sync reply",
    [0x29] = "Link sync confirmation",
    [0x30] = "Debug packet (kind 2)",
    [0x36] = "Device network parameter update",
    [0x37] = "Device search request",
    [0x9C] = "Status report (kind 2, answers the status query)",
    [0x9D] = "Status report (kind 1, acknowledges a stream frame)",
    [0xB1] = "Signal packet",
    [0xB7] = "Device search answer",
}

-- 0x1E and 0x9E mean one thing from the PC and another from the host node.
local BOTH_WAYS = {
    [0x1E] = { [TO_NODE] = "Read request (RecvPacketFromHostNode)", [FROM_NODE] = "Data packet" },
    [0x9E] = { [TO_NODE] = "Data acknowledgement", [FROM_NODE] = "Read reply (RecvPacketFromHostNode)" },
}

local function code_name(code, dir)
    local both = BOTH_WAYS[code]
    if both then return both[dir] or (both[TO_NODE] .. " / " .. both[FROM_NODE]) end
    if OTHER_KINDS[code] then return OTHER_KINDS[code] end
    if COMMANDS[code] then return COMMANDS[code] .. " request" end
    if code >= 0x80 and COMMANDS[code - 0x80] then return COMMANDS[code - 0x80] .. " reply" end
    return "Unknown frame code"
end

local CODE_VALUES = {}
for code = 0, 255 do
    local name = code_name(code, nil)
    if name ~= "Unknown frame code" then CODE_VALUES[code] = name end
end

local PACKET_KINDS = { [0] = "none", [1] = "file data", [2] = "embedded command" }
local POWER = { [0] = "+10 dBm", "+7 dBm", "+5 dBm", "0 dBm", "-5 dBm", "-10 dBm", "-15 dBm", "-20 dBm" }
local BAUD_CODES = {
    [0x01] = "110 bit/s", [0x02] = "300 bit/s", [0x04] = "600 bit/s", [0x11] = "1200 bit/s",
    [0x12] = "2400 bit/s", [0x14] = "4800 bit/s", [0x18] = "9600 bit/s", [0x21] = "14400 bit/s",
    [0x22] = "19200 bit/s", [0x24] = "38400 bit/s", [0x27] = "56000 bit/s", [0x28] = "57600 bit/s",
    [0x41] = "115200 bit/s", [0x42] = "128000 bit/s", [0x44] = "256000 bit/s",
}
local DEVICES = {
    [0x24] = "UART-0", [0x25] = "UART-1", [0x81] = "LCD", [0x01] = "serial Flash",
    [0x02] = "serial EEPROM", [0xFF] = "default output (FIFO queue)",
}
local DEBUG_EVENTS = {
    [1] = "packet ==>", [2] = "packet <=>", [3] = "packet <--", [4] = "data time-out",
    [5] = "node suspended", [6] = "sync-up time-out", [7] = "sync-down time-out",
    [9] = "system reboot", [10] = "packet exception",
}
local ON_OFF = { [0] = "off", [1] = "on" }
local NET_MODES = { [0] = "data transfer mode", [1] = "command set mode" }
local CRC_STATUS = { [0] = "Bad", [1] = "Good" }
local DIRECTIONS = { [TO_NODE] = "PC -> host node", [FROM_NODE] = "host node -> PC" }
local BITMAP_NAMES = { "Active stations", "Online stations", "Linked stations", "Suspended stations" }

---------------------------------------------------------------------------------------------
-- Fields

local f = {}

f.direction = ProtoField.uint8("tevrolink.direction", "Direction", base.DEC, DIRECTIONS)
f.sync = ProtoField.uint8("tevrolink.sync", "Sync byte", base.HEX)
f.code = ProtoField.uint8("tevrolink.code", "Code", base.HEX, CODE_VALUES)
f.command = ProtoField.string("tevrolink.command", "Command")
f.reply_to = ProtoField.uint8("tevrolink.reply_to", "Reply to request", base.HEX)
f.seq = ProtoField.uint8("tevrolink.seq", "Sequence number")
f.node = ProtoField.uint8("tevrolink.node", "Node")
f.attr = ProtoField.uint8("tevrolink.attr", "Attribute", base.HEX)
f.attr_kind = ProtoField.uint8("tevrolink.attr.kind", "Packet kind", base.DEC, PACKET_KINDS, 0xF0)
f.attr_last = ProtoField.bool("tevrolink.attr.last", "Last packet", 8, nil, 0x08)
f.attr_first = ProtoField.bool("tevrolink.attr.first", "First packet", 8, nil, 0x04)
f.attr_info = ProtoField.bool("tevrolink.attr.info", "Information packet", 8, nil, 0x02)
f.length = ProtoField.uint8("tevrolink.length", "Payload length")
f.crc = ProtoField.uint16("tevrolink.crc", "CRC-16", base.HEX)
f.crc_status = ProtoField.uint8("tevrolink.crc.status", "CRC status", base.DEC, CRC_STATUS)
f.crc_computed = ProtoField.uint16("tevrolink.crc.computed", "Computed CRC-16", base.HEX)
f.payload = ProtoField.bytes("tevrolink.payload", "Payload")

f.station = ProtoField.uint8("tevrolink.station", "Station")
f.role = ProtoField.uint8("tevrolink.role", "Role (0 slave, else master)")
f.peer = ProtoField.uint8("tevrolink.peer", "Peer station (0 = broadcast)")
f.point = ProtoField.uint8("tevrolink.point", "Frequency point")
f.power = ProtoField.uint8("tevrolink.power", "Power level", base.DEC, POWER, 0x07)
f.on_off = ProtoField.uint8("tevrolink.on", "Setting", base.DEC, ON_OFF)
f.baud = ProtoField.uint8("tevrolink.baud", "Baud code", base.HEX, BAUD_CODES)
f.stations = ProtoField.string("tevrolink.stations", "Stations")
f.node_status = ProtoField.uint8("tevrolink.node_status", "Station status", base.HEX)
f.search = ProtoField.uint8("tevrolink.search", "Search", base.HEX)
f.firmware = ProtoField.string("tevrolink.firmware", "Firmware version")
f.media_device = ProtoField.uint8("tevrolink.media.device", "Device", base.HEX, DEVICES)
f.media_first = ProtoField.uint16("tevrolink.media.first", "First value")
f.media_second = ProtoField.uint16("tevrolink.media.second", "Second value")
f.clock = ProtoField.string("tevrolink.clock", "Clock")
f.net_mode = ProtoField.uint8("tevrolink.mode", "Mode", base.DEC, NET_MODES)
f.out_device = ProtoField.uint8("tevrolink.output.device", "Output device", base.HEX, DEVICES)
f.out_setting = ProtoField.uint32("tevrolink.output.setting", "Setting")
f.out_start = ProtoField.uint32("tevrolink.output.start", "Start position")
f.out_size = ProtoField.uint32("tevrolink.output.size", "Characters to clear", base.DEC,
                               { [0xFFFFFFFF] = "the whole device" })
f.read_count = ProtoField.uint32("tevrolink.read.count", "Bytes requested")
f.data = ProtoField.bytes("tevrolink.data", "Data")
f.file_size = ProtoField.uint32("tevrolink.file.size", "File size")
f.file_crc = ProtoField.uint32("tevrolink.file.crc32", "File CRC-32", base.HEX)

f.st_state = ProtoField.uint8("tevrolink.status.state", "Host node state", base.HEX)
f.st_peer = ProtoField.uint8("tevrolink.status.peer", "Current peer station")
f.st_flags = ProtoField.uint8("tevrolink.status.flags", "Host flags", base.HEX)
f.st_active = ProtoField.bool("tevrolink.status.flags.active", "Receiving station active", 8, nil, 0x80)
f.st_activate = ProtoField.bool("tevrolink.status.flags.needs_activation", "Receiving station needs activation", 8, nil, 0x08)
f.st_suspended = ProtoField.bool("tevrolink.status.flags.suspended", "Receiving station suspended", 8, nil, 0x04)
f.st_group1 = ProtoField.uint16("tevrolink.status.group1", "Value group 1")
f.st_waiting = ProtoField.uint16("tevrolink.status.waiting", "Bytes waiting in the transmit buffer")
f.st_credit = ProtoField.uint16("tevrolink.status.credit", "Credit (bytes accepted now)")
f.st_size = ProtoField.uint16("tevrolink.status.buffer_size", "Transmit buffer size")
f.st_block = ProtoField.uint16("tevrolink.status.block", "Write block (0 = writing allowed)")
f.st_group3 = ProtoField.uint16("tevrolink.status.group3", "Value group 3")
f.st_group4 = ProtoField.uint16("tevrolink.status.group4", "Value group 4")

f.dbg_event = ProtoField.uint8("tevrolink.debug.event", "Event", base.DEC, DEBUG_EVENTS)
f.dbg_r = ProtoField.uint8("tevrolink.debug.r", "R")
f.dbg_w = ProtoField.uint8("tevrolink.debug.w", "W")
f.dbg_bytes = ProtoField.bytes("tevrolink.debug.bytes", "Bytes")
f.dbg_shost = ProtoField.uint8("tevrolink.debug.s_host", "S-Host")
f.dbg_snode = ProtoField.uint8("tevrolink.debug.s_node", "S-Node")
f.dbg_init = ProtoField.uint8("tevrolink.debug.init", "Init")
f.dbg_counter = ProtoField.uint8("tevrolink.debug.counter", "Counter")
f.dbg_self = ProtoField.uint8("tevrolink.debug.self", "Own station")
f.dbg_tx = ProtoField.uint8("tevrolink.debug.tx", "Tx")
f.dbg_rx = ProtoField.uint8("tevrolink.debug.rx", "Rx")
f.dbg_hlqi = ProtoField.uint8("tevrolink.debug.h_lqi", "H-LQI", base.HEX)
f.dbg_hrsi = ProtoField.uint8("tevrolink.debug.h_rsi", "H-RSI", base.HEX)
f.dbg_plqi = ProtoField.uint8("tevrolink.debug.p_lqi", "P-LQI", base.HEX)
f.dbg_prsi = ProtoField.uint8("tevrolink.debug.p_rsi", "P-RSI", base.HEX)
f.dbg_mask = ProtoField.uint8("tevrolink.debug.mask", "Mask", base.HEX, nil, 0x0F)
f.dbg_pktid = ProtoField.uint8("tevrolink.debug.pkt_id", "PktID", base.HEX)
f.dbg_cmd = ProtoField.uint8("tevrolink.debug.cmd", "Cmd", base.HEX)
f.dbg_station_b = ProtoField.uint8("tevrolink.debug.station_b", "Station B")
f.dbg_station_a = ProtoField.uint8("tevrolink.debug.station_a", "Station A")
f.dbg_suit = ProtoField.uint8("tevrolink.debug.suit", "Suit", base.DEC, nil, 0x3F)
f.dbg_mode = ProtoField.uint8("tevrolink.debug.mode", "Mode", base.DEC, nil, 0xC0)

f.sig_state = ProtoField.uint8("tevrolink.signal.state", "State code", base.HEX)
f.sig_station = ProtoField.uint8("tevrolink.signal.station", "Station (0 = none)")
f.sig_flags = ProtoField.uint8("tevrolink.signal.flags", "Station flags", base.HEX)
f.sig_active = ProtoField.bool("tevrolink.signal.flags.active", "Active", 8, nil, 0x80)
f.sig_online = ProtoField.bool("tevrolink.signal.flags.online", "Online", 8, nil, 0x40)
f.sig_link = ProtoField.bool("tevrolink.signal.flags.link", "Link", 8, nil, 0x10)
f.sig_suspended = ProtoField.bool("tevrolink.signal.flags.suspended", "Suspended", 8, nil, 0x04)
-- Payload bytes 3-6, named and in decimal as the manager's quality file and plot have them.
f.sig_peer_lqi = ProtoField.uint8("tevrolink.signal.peer_lqi", "peer_lqi (link quality seen by the station)")
f.sig_host_lqi = ProtoField.uint8("tevrolink.signal.host_lqi", "host_lqi (link quality seen by the host node)")
f.sig_peer_rssi = ProtoField.uint8("tevrolink.signal.peer_rssi", "peer_rssi (signal strength seen by the station)")
f.sig_host_rssi = ProtoField.uint8("tevrolink.signal.host_rssi", "host_rssi (signal strength seen by the host node)")
f.sig_end = ProtoField.bool("tevrolink.signal.search_end", "End of network search")

f.dev_ip = ProtoField.ipv4("tevrolink.device.ip", "IP address")
f.dev_mask = ProtoField.ipv4("tevrolink.device.mask", "Subnet mask")
f.dev_gateway = ProtoField.ipv4("tevrolink.device.gateway", "Gateway")
f.dev_mac = ProtoField.ether("tevrolink.device.mac", "MAC address")
f.dev_dns1 = ProtoField.ipv4("tevrolink.device.dns1", "Primary DNS")
f.dev_dns2 = ProtoField.ipv4("tevrolink.device.dns2", "Secondary DNS")
f.dev_centre = ProtoField.ipv4("tevrolink.device.centre", "Control centre address")
f.dev_centre_port = ProtoField.uint16("tevrolink.device.centre_port", "Control centre port")
f.dev_description = ProtoField.string("tevrolink.device.description", "Description")
f.dev_auto_address = ProtoField.uint8("tevrolink.device.auto_address", "Automatic address", base.DEC, ON_OFF)
f.dev_auto_dns = ProtoField.uint8("tevrolink.device.auto_dns", "Automatic DNS", base.DEC, ON_OFF)

local fields = {}
for _, v in pairs(f) do fields[#fields + 1] = v end
proto.fields = fields

local ex_malformed = ProtoExpert.new("tevrolink.malformed", "Length byte disagrees with the datagram",
                                     expert.group.MALFORMED, expert.severity.ERROR)
local ex_short = ProtoExpert.new("tevrolink.short", "Payload too short for this frame",
                                 expert.group.MALFORMED, expert.severity.WARN)
local ex_bad_crc = ProtoExpert.new("tevrolink.crc.bad", "Bad CRC", expert.group.CHECKSUM,
                                   expert.severity.ERROR)
local ex_bad_sync = ProtoExpert.new("tevrolink.sync.bad", "Sync byte is not 0xAA",
                                    expert.group.MALFORMED, expert.severity.ERROR)
proto.experts = { ex_malformed, ex_short, ex_bad_crc, ex_bad_sync }

---------------------------------------------------------------------------------------------
-- Helpers

-- CRC-16/MODBUS of `n` bytes of `tvb` from `offset`, the CRC field (bytes 6-7) taken as zero.
local function frame_crc(tvb, offset, n)
    local crc = 0xFFFF
    for i = 0, n - 1 do
        local byte = (i == 6 or i == 7) and 0 or tvb(offset + i, 1):uint()
        crc = bxor(crc, byte)
        for _ = 1, 8 do
            if band(crc, 1) ~= 0 then crc = bxor(rshift(crc, 1), 0xA001) else crc = rshift(crc, 1) end
        end
    end
    return crc
end

local function bitmap_stations(range)
    local list = {}
    for s = 1, range:len() * 8 - 1 do
        local byte = range(math.floor(s / 8), 1):uint()
        if band(byte, bit.lshift(1, s % 8)) ~= 0 then list[#list + 1] = tostring(s) end
    end
    return #list == 0 and "none" or table.concat(list, ",")
end

-- The payload of one frame: every read is checked against what is really there.
local Payload = {}
Payload.__index = Payload

local function new_payload(tvb, offset, size, tree)
    return setmetatable({ tvb = tvb, offset = offset, size = size, tree = tree }, Payload)
end

function Payload:has(at, n)
    if at + n <= self.size then return true end
    if not self.warned then
        self.tree:add_proto_expert_info(ex_short)
        self.warned = true
    end
    return false
end

function Payload:range(at, n) return self.tvb(self.offset + at, n) end

-- Adds `field` for `n` bytes at `at` (little-endian for numbers); nil when they are missing.
function Payload:add(field, at, n, tree)
    if not self:has(at, n) then return nil end
    return (tree or self.tree):add_le(field, self:range(at, n))
end

function Payload:add_be(field, at, n, tree)
    if not self:has(at, n) then return nil end
    return (tree or self.tree):add(field, self:range(at, n))
end

function Payload:byte(at) return self:has(at, 1) and self:range(at, 1):uint() or nil end

function Payload:flags(field, bits, at)
    local item = self:add(field, at, 1)
    if item then
        for _, b in ipairs(bits) do item:add(b, self:range(at, 1)) end
    end
end

function Payload:bitmap(at, name, tree)
    if not self:has(at, 32) then return nil end
    local text = bitmap_stations(self:range(at, 32))
    ;(tree or self.tree):add(f.stations, self:range(at, 32), text):prepend_text(name .. ": ")
    return text
end

---------------------------------------------------------------------------------------------
-- Payloads

local function status_report(p)
    p:add(f.st_state, 0, 1)
    p:add(f.st_peer, 1, 1)
    p:flags(f.st_flags, { f.st_active, f.st_activate, f.st_suspended }, 2)
    for _, at in ipairs({ 4, 6, 8 }) do p:add_be(f.st_group1, at, 2) end
    p:add_be(f.st_waiting, 11, 2)
    p:add_be(f.st_credit, 13, 2)
    p:add_be(f.st_size, 15, 2)
    p:add_be(f.st_block, 18, 2)
    for _, at in ipairs({ 20, 22 }) do p:add_be(f.st_group3, at, 2) end
    for _, at in ipairs({ 25, 27, 29 }) do p:add_be(f.st_group4, at, 2) end
    if p:has(15, 2) then
        return string.format("waiting %d, credit %d", p:range(11, 2):uint(), p:range(13, 2):uint())
    end
end

local function debug_long(p)
    p:add(f.dbg_r, 0, 1)
    p:add(f.dbg_w, 1, 1)
    p:add(f.dbg_bytes, 2, 8)
    p:add(f.dbg_shost, 10, 1)
    p:add(f.dbg_snode, 11, 1)
    p:add(f.dbg_init, 12, 1)
    p:add(f.dbg_counter, 13, 1)
    p:add(f.dbg_self, 14, 1)
    p:add(f.dbg_tx, 15, 1)
    p:add(f.dbg_rx, 16, 1)
    p:add(f.dbg_hlqi, 17, 1)
    p:add(f.dbg_hrsi, 18, 1)
    p:add(f.dbg_plqi, 19, 1)
    p:add(f.dbg_prsi, 20, 1)
    for i, name in ipairs(BITMAP_NAMES) do p:bitmap(21 + (i - 1) * 32, name) end
    p:add(f.dbg_mask, 149, 1)
    p:add(f.dbg_pktid, 150, 1)
    p:add(f.dbg_cmd, 151, 1)
    p:add(f.dbg_station_b, 153, 1)
    p:add(f.dbg_station_a, 154, 1)
    p:add(f.dbg_suit, 156, 1)
    p:add(f.dbg_mode, 156, 1)
end

local function debug_short(p)
    p:add(f.dbg_mask, 0, 1)
    p:add(f.dbg_pktid, 1, 1)
    p:add(f.dbg_cmd, 2, 1)
    p:add(f.dbg_station_b, 4, 1)
    p:add(f.dbg_station_a, 5, 1)
    p:add(f.dbg_suit, 7, 1)
    p:add(f.dbg_mode, 7, 1)
end

local function signal(p)
    p:add(f.sig_state, 0, 1)
    p:add(f.sig_station, 1, 1)
    p:flags(f.sig_flags, { f.sig_active, f.sig_online, f.sig_link, f.sig_suspended }, 2)
    p:add(f.sig_peer_lqi, 3, 1)
    p:add(f.sig_host_lqi, 4, 1)
    p:add(f.sig_peer_rssi, 5, 1)
    p:add(f.sig_host_rssi, 6, 1)
    local state, station = p:byte(0), p:byte(1)
    if state and station then
        local ends = rshift(state, 4) == 0x9 and station == 255
        p.tree:add(f.sig_end, p:range(0, 2), ends)
        return string.format("state 0x%02X, station %d%s", state, station, ends and ", end of search" or "")
    end
end

local function device_entry(p)
    p:add_be(f.dev_ip, 0, 4)
    p:add_be(f.dev_mask, 4, 4)
    p:add_be(f.dev_gateway, 8, 4)
    p:add_be(f.dev_mac, 12, 6)
    p:add_be(f.dev_dns1, 18, 4)
    p:add_be(f.dev_dns2, 22, 4)
    p:add_be(f.dev_centre, 26, 4)
    p:add_be(f.dev_centre_port, 30, 2)
    -- GBK text, padded with NULs to 32 bytes.
    if p:has(32, 32) then p.tree:add_packet_field(f.dev_description, p:range(32, 32), ENC_GB18030 or ENC_ASCII) end
    p:add(f.dev_auto_address, 64, 1)
    p:add(f.dev_auto_dns, 65, 1)
    if p:has(0, 4) then return "device " .. tostring(p:range(0, 4):ipv4()) end
end

local function output_file(p, code)
    p:add(f.out_device, 0, 1)
    if code == 0x71 then
        p:add(f.out_setting, 1, 4)
        p:add(f.out_start, 5, 4)
    else
        p:add(f.out_start, 1, 4)
        p:add(f.out_size, 5, 4)
    end
    local device = p:byte(0)
    if device then return DEVICES[device] or string.format("device 0x%02X", device) end
end

local dissect_frame  -- an embedded command is a frame of its own

-- The payload of a stream frame or a data packet, by its attribute byte.
local function packet_data(p, attr, tvb)
    local kind = rshift(attr, 4)
    if kind == 1 and band(attr, 0x02) ~= 0 then
        p:add(f.file_size, 0, 4)
        p:add(f.file_crc, 4, 4)
        if p:has(0, 8) then
            return string.format("file information: %d bytes, CRC-32 0x%08X",
                                 p:range(0, 4):le_uint(), p:range(4, 4):le_uint())
        end
    elseif kind == 2 and p.size >= 8 then
        dissect_frame(tvb, p.offset, p.size, p.tree, nil, true)
        return "embedded command"
    elseif p.size > 0 then
        p:add(f.data, 0, p.size)
        return string.format("%d bytes", p.size)
    end
end

-- Payload of each code; returns a short summary for the Info column.
local REQUESTS, REPLIES = {}, {}
local function station_value(field)
    return function(p)
        local v = p:byte(0)
        local item = p:add(field, 0, 1)
        if field == f.peer and v == 0 then item:append_text(" (broadcast)"); return "broadcast" end
        return v and tostring(v)
    end
end
for _, code in ipairs({ 0x14, 0x1A, 0x12, 0x32, 0x23 }) do
    REQUESTS[code] = station_value(code == 0x1A and f.peer or ((code == 0x12 or code == 0x32) and f.point or f.station))
end
for _, code in ipairs({ 0x94, 0x9A, 0x9B, 0x92, 0x93, 0xB2, 0xB3 }) do
    local field = (code == 0x9A or code == 0x9B) and f.peer or ((code == 0x94) and f.station or f.point)
    REPLIES[code] = station_value(field)
end
REPLIES[0x95] = function(p)
    p:add(f.station, 0, 1)
    local role = p:byte(1)
    local item = p:add(f.role, 1, 1)
    if item then item:append_text(role ~= 0 and " (master)" or " (slave)") end
    if role then return string.format("station %d, %s", p:byte(0), role ~= 0 and "master" or "slave") end
end
REQUESTS[0x3A] = function(p) p:add(f.power, 0, 1); local v = p:byte(0); return v and POWER[band(v, 7)] end
REPLIES[0xBA] = REQUESTS[0x3A]
REPLIES[0xBB] = REQUESTS[0x3A]
REQUESTS[0x34] = function(p) p:add(f.on_off, 0, 1); local v = p:byte(0); return v and "retransmission " .. (ON_OFF[v] or v) end
REPLIES[0xB5] = REQUESTS[0x34]
REQUESTS[0x25] = function(p) p:add(f.on_off, 0, 1); local v = p:byte(0); return v and "monitor " .. (ON_OFF[v] or v) end
REQUESTS[0x38] = function(p) p:add(f.baud, 0, 1); local v = p:byte(0); return v and (BAUD_CODES[v] or "unknown rate") end
REQUESTS[0x16] = function(p) return p:bitmap(0, "Stations") end
REQUESTS[0x17] = REQUESTS[0x16]
REPLIES[0x98] = REQUESTS[0x16]
REPLIES[0x99] = function(p)
    local active
    for i, name in ipairs(BITMAP_NAMES) do
        if p.size < i * 32 then break end
        local text = p:bitmap((i - 1) * 32, name)
        active = active or text
    end
    return active and ("active " .. active)
end
REPLIES[0xA3] = function(p) p:add(f.node_status, 0, 1); local v = p:byte(0); return v and string.format("status 0x%02X", v) end
REQUESTS[0x39] = function(p) p:add(f.search, 0, 1); local v = p:byte(0); return v and string.format("flag %d", v) end
REPLIES[0xB9] = function(p) p:add(f.search, 0, 1); local v = p:byte(0); return v and string.format("result 0x%02X", v) end
REPLIES[0xF0] = function(p)
    if p.size == 0 then return nil end
    -- The text is GBK; the analyser's own decoder handles its multi-byte characters.
    local item = p.tree:add_packet_field(f.firmware, p:range(0, p.size), ENC_GB18030 or ENC_ASCII)
    -- The decoded text for the Info column, taken from the item: TvbRange:string() cuts a
    -- converted text to the number of bytes it had in GBK. Newer versions quote it.
    local shown = item.text and item.text:match("^Firmware version: (.*)$")
    return shown and (shown:match('^"(.*)"$') or shown)
end
REQUESTS[0x07] = function(p) p:add(f.media_device, 0, 1) end
REPLIES[0x87] = function(p) p:add(f.media_first, 0, 2); p:add(f.media_second, 2, 2) end
REQUESTS[0x24] = function(p)
    if not p:has(0, 7) then return nil end
    local b = {}
    for i = 0, 6 do b[i] = p:byte(i) end
    local text = string.format("20%02d-%02d-%02d %02d:%02d:%02d, day of week %d", b[6], b[5], b[3], b[2], b[1], b[0], b[4])
    p.tree:add(f.clock, p:range(0, 7), text)
    return text
end
REQUESTS[0x26] = function(p) p:add(f.net_mode, 0, 1); local v = p:byte(0); return v and NET_MODES[v == 1 and 1 or 0] end
REQUESTS[0x71] = function(p) return output_file(p, 0x71) end
REQUESTS[0x06] = function(p) return output_file(p, 0x06) end
REPLIES[0x9C] = status_report
REPLIES[0x9D] = status_report
REPLIES[0xB1] = signal
REPLIES[0xB7] = device_entry
REQUESTS[0x36] = device_entry

---------------------------------------------------------------------------------------------
-- The frame

local function guess_direction(tvb, offset, size)
    if size < 2 then return nil end
    local code = tvb(offset + 1, 1):uint()
    if code == 0x1E then
        return (size >= 4 and tvb(offset + 3, 1):uint() == 255) and TO_NODE or FROM_NODE
    elseif code == 0x9E then
        return (size == 8) and TO_NODE or FROM_NODE
    elseif code == 0x1F or code == 0x30 or (code >= 0x80) then
        return FROM_NODE
    elseif code < 0x27 or code > 0x29 then
        return TO_NODE
    end
    return nil
end

-- Decodes one frame of `size` bytes at `offset`; returns its name and summary.
dissect_frame = function(tvb, offset, size, parent, dir, inner)
    local tree = inner and parent:add(proto, tvb(offset, size), "Embedded command frame")
                       or parent:add(proto, tvb(offset, size))
    if dir then tree:add(f.direction, dir):set_generated() end
    if size < 8 then
        tree:add_proto_expert_info(ex_malformed, string.format("Frame of %d bytes: shorter than its header", size))
        return "Malformed frame"
    end
    local code, length = tvb(offset + 1, 1):uint(), tvb(offset + 5, 1):uint()
    local name = code_name(code, dir)

    local sync = tree:add(f.sync, tvb(offset, 1))
    if tvb(offset, 1):uint() ~= 0xAA then sync:add_proto_expert_info(ex_bad_sync) end
    tree:add(f.code, tvb(offset + 1, 1))
    tree:add(f.command, tvb(offset + 1, 1), name):set_generated()
    if code >= 0x80 and COMMANDS[code - 0x80] then tree:add(f.reply_to, code - 0x80):set_generated() end
    local seq = tvb(offset + 2, 1):uint()
    local seq_item = tree:add(f.seq, tvb(offset + 2, 1))
    if code == 0x1F or code == 0x30 then seq_item:append_text(" (event " .. (DEBUG_EVENTS[seq] or "unknown") .. ")") end
    local node_item = tree:add(f.node, tvb(offset + 3, 1))
    local node = tvb(offset + 3, 1):uint()
    if node == 255 then node_item:append_text(" (the host node itself)")
    elseif code == 0x1D and node == 0 then node_item:append_text(" (broadcast)") end
    local attr = tvb(offset + 4, 1):uint()
    local attr_item = tree:add(f.attr, tvb(offset + 4, 1))
    for _, b in ipairs({ f.attr_kind, f.attr_info, f.attr_first, f.attr_last }) do attr_item:add(b, tvb(offset + 4, 1)) end
    local length_item = tree:add(f.length, tvb(offset + 5, 1))

    local crc_item = tree:add(f.crc, tvb(offset + 6, 2))
    local stored = tvb(offset + 6, 2):uint()
    if size ~= 8 + length then
        length_item:add_proto_expert_info(ex_malformed,
            string.format("Length byte %d, but the datagram carries %d payload bytes", length, size - 8))
    end
    local good
    if size >= 8 + length then
        local computed = frame_crc(tvb, offset, 8 + length)
        good = computed == stored
        crc_item:add(f.crc_computed, computed):set_generated()
        crc_item:add(f.crc_status, good and 1 or 0):set_generated()
        crc_item:append_text(good and " [good]" or " [bad]")
        if not good then crc_item:add_proto_expert_info(ex_bad_crc) end
    end

    -- A device search answer is read 66 bytes behind the header whatever its length says.
    local available = size - 8
    local p = new_payload(tvb, offset + 8, code == 0xB7 and available or math.min(length, available), tree)
    if p.size > 0 then tree:add(f.payload, tvb(offset + 8, p.size)) end
    local summary
    if code == 0x1F then
        tree:add(f.dbg_event, tvb(offset + 2, 1)):set_generated()
        debug_long(p)
        summary = DEBUG_EVENTS[seq]
    elseif code == 0x30 then
        tree:add(f.dbg_event, tvb(offset + 2, 1)):set_generated()
        debug_short(p)
        summary = DEBUG_EVENTS[seq]
    elseif code == 0x1D then
        summary = (node == 255 and "to the host node" or (node == 0 and "broadcast" or "to station " .. node))
        local data = packet_data(p, attr, tvb)
        if data then summary = summary .. ", " .. data end
    elseif code == 0x1E and dir ~= TO_NODE then
        summary = "from station " .. node
        local data = packet_data(p, attr, tvb)
        if data then summary = summary .. ", " .. data end
    elseif code == 0x1E then
        p:add(f.read_count, 0, 4)
        if p:has(0, 4) then summary = p:range(0, 4):le_uint() .. " bytes" end
    elseif code == 0x9E and dir == FROM_NODE then
        if p.size > 0 then p:add(f.data, 0, p.size) end
        summary = p.size .. " bytes"
    elseif code == 0x9E or (code >= 0x27 and code <= 0x29) then
        summary = "sequence " .. seq
    else
        local decode = (code >= 0x80) and REPLIES[code] or REQUESTS[code]
        if decode then summary = decode(p) end
        if code == 0x9D then summary = "ack " .. seq .. (summary and (", " .. summary) or "") end
    end
    local text = name .. (summary and (": " .. summary) or "")
    if good == false then text = text .. " [bad CRC]" end
    if size ~= 8 + length then text = text .. " [malformed]" end
    tree:append_text(", " .. text)
    return text
end

local function direction_of(pinfo)
    local remote, here = proto.prefs.remote_port, proto.prefs.local_port
    if pinfo.src_port == remote then return FROM_NODE end
    if pinfo.dst_port == remote then return TO_NODE end
    if pinfo.src_port == here then return TO_NODE end
    if pinfo.dst_port == here then return FROM_NODE end
    return nil
end

function proto.dissector(tvb, pinfo, tree)
    local size = tvb:len()
    if size == 0 then return 0 end
    pinfo.cols.protocol = "Tevrolink"
    local dir = direction_of(pinfo) or guess_direction(tvb, 0, size)
    local text = dissect_frame(tvb, 0, size, tree, dir, false)
    pinfo.cols.info = (dir and (dir == TO_NODE and "PC->node " or "node->PC ") or "") .. text
    return size
end

-- Frames on other ports: taken only when sync byte, length and CRC all agree.
local function heuristic(tvb, pinfo, tree)
    local size = tvb:len()
    if size < 8 or tvb(0, 1):uint() ~= 0xAA or size ~= 8 + tvb(5, 1):uint() then return false end
    if frame_crc(tvb, 0, size) ~= tvb(6, 2):uint() then return false end
    proto.dissector(tvb, pinfo, tree)
    return true
end

local udp_ports = DissectorTable.get("udp.port")
local registered = {}

local function register_ports()
    for _, port in ipairs(registered) do udp_ports:remove(port, proto) end
    registered = { proto.prefs.local_port, proto.prefs.remote_port }
    for _, port in ipairs(registered) do udp_ports:add(port, proto) end
end

function proto.prefs_changed() register_ports() end

register_ports()
proto:register_heuristic("udp", heuristic)
