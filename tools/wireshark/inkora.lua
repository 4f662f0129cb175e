-- Wireshark dissector for the pcap trace of the penlark-remote agent.
--
-- The agent writes every chunk of channel traffic as one UDP datagram from
-- port 1000 to port 1000: 1.0.0.0 -> 2.0.0.0 carries the bytes received from
-- the remote side exactly as they were read (a chunk may hold part of a
-- message or several messages), 2.0.0.0 -> 1.0.0.0 one whole message sent
-- by the agent per frame. Each message is a type byte, a 32-bit
-- little-endian sequence number and a body whose integers are big-endian.
--
-- Use:  wireshark -X lua_script:tools/wireshark/inkora.lua trace.pcap
--       tshark -X lua_script:tools/wireshark/inkora.lua -r trace.pcap -V
-- or copy the file into ~/.local/lib/wireshark/plugins/ (Wireshark 4).
-- Display filter: inkora, e.g. "inkora.type == 8" or "inkora.malformed".

local inkora = Proto("inkora", "Inkora remote signature-pad protocol")

local PORT = 1000
-- The agent's dispatch takes no variable field longer than its 4096-byte
-- scratch buffer; a longer length is taken as garbage, not waited for.
local MAX_FIELD = 4096

local type_names = {
    [1] = "DEVICEENUM_REQUEST", [2] = "DEVICEENUM_RESPONSE",
    [3] = "OPEN_REQUEST", [4] = "OPEN_RESPONSE",
    [5] = "CLOSE_REQUEST", [6] = "CLOSE_RESPONSE",
    [7] = "READ_REQUEST", [8] = "READ_RESPONSE",
    [9] = "SET_OUTPUT_REQUEST", [10] = "SET_OUTPUT_RESPONSE",
    [11] = "SET_FEATURE_REQUEST", [12] = "SET_FEATURE_RESPONSE",
    [13] = "GET_FEATURE_REQUEST", [14] = "GET_FEATURE_RESPONSE",
    [15] = "DEVICE_ATTACH", [16] = "DEVICE_DETACH",
    [17] = "PING", [18] = "PONG",
    [19] = "READ_BULK_REQUEST", [20] = "READ_BULK_RESPONSE",
    [21] = "VERSION_INFO",
}

local f = {
    type = ProtoField.uint8("inkora.type", "Message type", base.DEC, type_names),
    seq = ProtoField.uint32("inkora.seq", "Sequence number", base.DEC),
    path_len = ProtoField.uint32("inkora.path_len", "Path length", base.DEC),
    path = ProtoField.string("inkora.path", "Path"),
    success = ProtoField.uint8("inkora.success", "Success", base.DEC, {[0] = "failed", [1] = "done"}),
    error_len = ProtoField.uint32("inkora.error_len", "Error length", base.DEC),
    error = ProtoField.string("inkora.error", "Error"),
    report_id = ProtoField.uint8("inkora.report_id", "Report id", base.DEC),
    report_len = ProtoField.uint32("inkora.report_len", "Report length", base.DEC),
    report = ProtoField.bytes("inkora.report", "Report"),
    report_text = ProtoField.string("inkora.report_text", "Error text in the report field"),
    device_count = ProtoField.uint8("inkora.device_count", "Device count", base.DEC),
    device = ProtoField.none("inkora.device", "Device"),
    product_id = ProtoField.uint16("inkora.product_id", "Product id", base.HEX),
    vendor_id = ProtoField.uint16("inkora.vendor_id", "Vendor id", base.HEX),
    model_len = ProtoField.uint32("inkora.model_len", "Model length", base.DEC),
    model = ProtoField.string("inkora.model", "Model"),
    manufacturer_len = ProtoField.uint32("inkora.manufacturer_len", "Manufacturer length", base.DEC),
    manufacturer = ProtoField.string("inkora.manufacturer", "Manufacturer"),
    maximum_reports = ProtoField.uint32("inkora.maximum_reports", "Maximum reports", base.DEC),
    report_count = ProtoField.uint32("inkora.report_count", "Report count", base.DEC),
    bulk_report = ProtoField.none("inkora.bulk_report", "Bulk report"),
    total_len = ProtoField.uint32("inkora.total_len", "Total length", base.DEC),
    version_major = ProtoField.uint8("inkora.version_major", "Version major", base.DEC),
    version_minor = ProtoField.uint8("inkora.version_minor", "Version minor", base.DEC),
    version_release = ProtoField.uint8("inkora.version_release", "Version release", base.DEC),
    supports_bulk = ProtoField.uint8("inkora.supports_bulk", "Supports bulk", base.DEC, {[0] = "no", [1] = "yes"}),
    extra = ProtoField.bytes("inkora.extra", "Bytes beyond the version fields"),
    message = ProtoField.none("inkora.message", "Message"),
    fragments = ProtoField.string("inkora.fragments", "Reassembled from frames"),
    continued = ProtoField.uint32("inkora.continued", "Bytes of a message continued in a later frame", base.DEC),
    malformed = ProtoField.string("inkora.malformed", "Malformed"),
    unknown = ProtoField.uint8("inkora.unknown_type", "Unknown message type", base.DEC),
}
inkora.fields = {}
for _, field in pairs(f) do
    table.insert(inkora.fields, field)
end

local ex = {
    malformed = ProtoExpert.new("inkora.expert.malformed", "Malformed message", expert.group.MALFORMED,
                                expert.severity.ERROR),
    unknown = ProtoExpert.new("inkora.expert.unknown", "Unknown message type", expert.group.PROTOCOL,
                              expert.severity.WARN),
    reassembled = ProtoExpert.new("inkora.expert.reassembled", "Message reassembled from several frames",
                                  expert.group.REASSEMBLE, expert.severity.NOTE),
    failed = ProtoExpert.new("inkora.expert.failed", "The operation failed", expert.group.RESPONSE_CODE,
                             expert.severity.NOTE),
}
inkora.experts = {ex.malformed, ex.unknown, ex.reassembled, ex.failed}

-- ---- Cutting and parsing messages on raw byte strings ----------------------
--
-- parse(s, pos) looks at the message starting at byte pos of the Lua string
-- s and returns status, length, fields:
--   "ok"       a whole message of length bytes; fields describe it
--   "short"    the message goes on beyond the end of s
--   "unknown"  the type byte names no message: the rest cannot be framed
--   "toolarge" a length field is beyond what the agent accepts
-- fields is a list of {key, offset, size, value, depth, text} with offsets
-- relative to the message start.

local function be32(s, at)
    local a, b, c, d = s:byte(at, at + 3)
    return ((a * 256 + b) * 256 + c) * 256 + d
end

local function be16(s, at)
    local a, b = s:byte(at, at + 1)
    return a * 256 + b
end

local function le32(s, at)
    local a, b, c, d = s:byte(at, at + 3)
    return ((d * 256 + c) * 256 + b) * 256 + a
end

local Short = {}
local TooLarge = {}

local function parse(s, pos)
    local n = #s
    if n - pos + 1 < 5 then
        return "short"
    end
    local kind = s:byte(pos)
    local fields = {}
    local at = pos + 5
    local depth = 0
    local function add(key, offset, size, value, text)
        table.insert(fields, {key = key, offset = offset - pos, size = size, value = value, depth = depth, text = text})
    end
    local function need(count)
        if at + count - 1 > n then
            error(Short)
        end
    end
    local function u8(key)
        need(1)
        local v = s:byte(at)
        add(key, at, 1, v)
        at = at + 1
        return v
    end
    local function u16(key)
        need(2)
        local v = be16(s, at)
        add(key, at, 2, v)
        at = at + 2
        return v
    end
    local function u32(key)
        need(4)
        local v = be32(s, at)
        add(key, at, 4, v)
        at = at + 4
        return v
    end
    -- A length and its bytes.
    local function var(len_key, key)
        local length = u32(len_key)
        if length > MAX_FIELD then
            error(TooLarge)
        end
        need(length)
        add(key, at, length, s:sub(at, at + length - 1))
        at = at + length
        return length
    end
    local function group(key, label)
        add(key, at, 0, nil, label)
        local index = #fields
        depth = depth + 1
        return index
    end
    local function close(index)
        depth = depth - 1
        fields[index].size = (at - pos) - fields[index].offset
    end

    add("type", pos, 1, kind)
    add("seq", pos + 1, 4, le32(s, pos + 1))
    if type_names[kind] == nil then
        return "unknown", n - pos + 1, fields
    end
    local ok, err = pcall(function()
        if kind == 1 or kind == 17 or kind == 18 then
            return
        elseif kind == 2 then
            local count = u8("device_count")
            for i = 1, count do
                local g = group("device", "Device " .. i)
                var("path_len", "path")
                u16("product_id") -- the product id travels first
                u16("vendor_id")
                var("model_len", "model")
                var("manufacturer_len", "manufacturer")
                close(g)
            end
        elseif kind == 3 or kind == 5 or kind == 7 or kind == 15 or kind == 16 then
            var("path_len", "path")
        elseif kind == 4 or kind == 6 or kind == 10 or kind == 12 then
            var("path_len", "path")
            u8("success")
            var("error_len", "error")
        elseif kind == 8 then
            var("path_len", "path")
            local success = u8("success")
            u8("report_id")
            var("report_len", success == 0 and "report_text" or "report")
        elseif kind == 9 or kind == 11 then
            var("path_len", "path")
            var("report_len", "report")
        elseif kind == 13 then
            var("path_len", "path")
            u8("report_id")
            u32("report_len")
        elseif kind == 14 then
            var("path_len", "path")
            local success = u8("success")
            var("report_len", success == 0 and "report_text" or "report")
        elseif kind == 19 then
            var("path_len", "path")
            u32("maximum_reports")
        elseif kind == 20 then
            var("path_len", "path")
            local success = u8("success")
            if success ~= 0 then
                local count = u32("report_count")
                for i = 1, count do
                    local g = group("bulk_report", "Report " .. i)
                    u8("report_id")
                    var("report_len", "report")
                    close(g)
                end
            else
                var("error_len", "error")
            end
        elseif kind == 21 then
            local total = u32("total_len")
            if total > MAX_FIELD then
                error(TooLarge)
            end
            need(total)
            local names = {"version_major", "version_minor", "version_release", "supports_bulk"}
            for i = 1, math.min(total, 4) do
                u8(names[i])
            end
            if total > 4 then
                add("extra", at, total - 4, s:sub(at, at + total - 5))
                at = at + total - 4
            elseif total < 4 then
                add("malformed", pos + 5, 4, "total length " .. total .. " is below the 4 version bytes")
            end
        end
    end)
    if not ok then
        if err == Short then
            return "short"
        elseif err == TooLarge then
            return "toolarge", n - pos + 1, fields
        end
        error(err)
    end
    return "ok", at - pos, fields
end

-- ---- Reassembly state, built on the first pass ------------------------------
--
-- For every frame: the messages that end in it, each with its bytes, where
-- they start in this frame (or that they began in earlier frames), the
-- frames they came from; and the bytes left waiting for the next frame.

local frames = {}
local pending = {}      -- per direction: {data = bytes, first = frame number}

function inkora.init()
    frames = {}
    pending = {}
end

local function direction_of(pinfo)
    return tostring(pinfo.src) .. ">" .. tostring(pinfo.dst)
end

-- The incoming side (from 1.0.0.0) may cut or pack messages; the agent's
-- side sends one whole message per frame.
local function is_incoming(pinfo)
    return tostring(pinfo.src) == "1.0.0.0"
end

local function cut(pinfo, bytes)
    local key = direction_of(pinfo)
    local carry = (is_incoming(pinfo) and pending[key]) or {data = "", first = pinfo.number}
    local data = carry.data .. bytes
    local carried = #carry.data
    local info = {messages = {}, left = 0}
    local pos = 1
    while pos <= #data do
        local status, length, fields = parse(data, pos)
        if status == "short" then
            break
        end
        local entry = {
            status = status,
            data = data:sub(pos, pos + length - 1),
            fields = fields,
            start = pos - 1 - carried, -- negative: began in an earlier frame
            first = pos - 1 < carried and carry.first or pinfo.number,
        }
        table.insert(info.messages, entry)
        pos = pos + length
    end
    local rest = data:sub(pos)
    if is_incoming(pinfo) then
        if #rest > 0 then
            pending[key] = {data = rest, first = (pos - 1 < carried) and carry.first or pinfo.number}
            info.left = math.min(#rest, #bytes)
        else
            pending[key] = nil
        end
    elseif #rest > 0 then
        table.insert(info.messages, {status = "truncated", data = rest, fields = {}, start = pos - 1,
                                     first = pinfo.number})
    end
    return info
end

-- ---- Display ----------------------------------------------------------------

local function summary(entry)
    local kind = entry.data:byte(1)
    local name = type_names[kind] or ("UNKNOWN(" .. tostring(kind) .. ")")
    if entry.status == "truncated" then
        return "TRUNCATED " .. name
    end
    local text = name
    for _, field in ipairs(entry.fields) do
        if field.key == "seq" then
            text = text .. " seq=" .. field.value
        elseif field.key == "path" and field.depth == 0 then
            text = text .. " path=" .. field.value
        elseif field.key == "success" then
            text = text .. (field.value ~= 0 and " ok" or " failed")
        elseif field.key == "device_count" then
            text = text .. " devices=" .. field.value
        elseif field.key == "report_id" and field.depth == 0 then
            text = text .. " id=" .. field.value
        end
    end
    if entry.status ~= "ok" then
        text = text .. " [malformed]"
    end
    return text
end

local function show(entry, tvb, tree, pinfo)
    local item = tree:add(f.message, tvb())
    item:set_text(summary(entry))
    local parents = {[0] = item}
    for _, field in ipairs(entry.fields) do
        local parent = parents[field.depth]
        local range = field.size > 0 and tvb(field.offset, field.size) or nil
        local added
        if field.key == "device" or field.key == "bulk_report" then
            added = parent:add(f[field.key], tvb(field.offset, field.size))
            added:set_text(field.text)
            parents[field.depth + 1] = added
        elseif field.key == "malformed" then
            added = parent:add(f.malformed, range, field.value)
            added:add_proto_expert_info(ex.malformed, field.value)
        elseif field.key == "seq" then
            added = parent:add_le(f.seq, range)
        elseif range == nil then
            -- An empty text or report.
            added = parent:add(f[field.key], tvb(field.offset, 0))
        elseif field.key == "report_text" then
            added = parent:add(f.report_text, range, field.value)
        else
            added = parent:add(f[field.key], range)
        end
        if field.key == "success" and field.value == 0 then
            added:add_proto_expert_info(ex.failed)
        end
    end
    if entry.status == "unknown" then
        item:add(f.unknown, tvb(0, 1))
        item:add_proto_expert_info(ex.unknown, "Unknown message type " .. entry.data:byte(1) ..
                                   ": the rest of the stream cannot be framed")
    elseif entry.status == "toolarge" then
        item:add(f.malformed, tvb(), "a length field exceeds " .. MAX_FIELD .. " bytes")
        item:add_proto_expert_info(ex.malformed, "A length field exceeds " .. MAX_FIELD .. " bytes")
    elseif entry.status == "truncated" then
        item:add(f.malformed, tvb(), "the frame ends inside the message")
        item:add_proto_expert_info(ex.malformed, "The frame ends inside the message")
    end
end

function inkora.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "INKORA"
    local info = frames[pinfo.number]
    if info == nil then
        info = cut(pinfo, tvb:raw())
        frames[pinfo.number] = info
    end
    local root = tree:add(inkora, tvb(), "Inkora, " .. (is_incoming(pinfo) and "remote side to agent"
                                                                           or "agent to remote side"))
    local texts = {}
    for _, entry in ipairs(info.messages) do
        local message_tvb
        if entry.start >= 0 then
            message_tvb = tvb(entry.start, #entry.data):tvb()
        else
            message_tvb = ByteArray.new(entry.data, true):tvb("Reassembled message")
        end
        show(entry, message_tvb, root, pinfo)
        if entry.start < 0 then
            root:add(f.fragments, tvb(0, math.min(#entry.data + entry.start, tvb:len())),
                     entry.first .. "-" .. pinfo.number):add_proto_expert_info(ex.reassembled)
        end
        table.insert(texts, summary(entry))
    end
    if info.left > 0 then
        root:add(f.continued, tvb(tvb:len() - info.left, info.left), info.left)
        table.insert(texts, "[" .. info.left .. " bytes continued]")
    end
    pinfo.cols.info = table.concat(texts, ", ")
    return tvb:len()
end

DissectorTable.get("udp.port"):add(PORT, inkora)
