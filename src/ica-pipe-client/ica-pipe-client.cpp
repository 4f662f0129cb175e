// The ica-pipe virtual-channel driver: the entry points the Citrix client
// calls, the channel "INKR_VC" and its write hook, and the relay between the
// channel and the agent child process.
//
// Threads: the client calls every procedure and the write hook on its one
// thread. The relay's reading thread calls inkora_process_incoming_data. In
// buffered mode the two share virtualChannelBuffer, bufferPos,
// virtualChannelMemory and closing under writeMutex; the reading thread
// waits on writeEvent for room, which DriverPoll (after a flush) and
// DriverClose trigger. Everything else is written by the client's thread
// before the reading thread starts, or after it has been joined.
#include "ica-pipe-client.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <ctime>

#include "ica-pipe-settings.h"
#include "inkora-event.h"
#include "inkora-process.h"

namespace {

constexpr std::size_t kBufferSize = 8192;
constexpr std::size_t kPathSize = 4096;
constexpr uint16_t kInfoSize = sizeof(inkora_citrix_virtual_channel_info);
constexpr uint16_t kQueryAnswerSize = 24;
constexpr uint16_t kQueuedWriteFlags = 1;
constexpr uint32_t kSendDataFlags = 1;

// ---- Plug-in state (one channel per loaded plug-in) ---------------------

VD VdData{};
LIBMGRCALLTABLE* libMgrCallTable = nullptr;

// Call tables of the client's libraries, fetched at open, unused otherwise.
void* CtxModuleTable = nullptr;
void* CtxKbdTable = nullptr;
void* CtxOsTable = nullptr;
void* CtxWndTable = nullptr;
void* VpSubListTable = nullptr;
void* CtxGraphTable = nullptr;
void* CtxScaTable = nullptr;

void* pfnWFEngPoll = nullptr;
void* pfnStatusMsgProc = nullptr;
void* hICAEng = nullptr;

uint16_t virtualChannelNumber = 0;
void* virtualChannelWd = nullptr;
PQUEUEVIRTUALWRITEPROC virtualChannelWriteProc = nullptr;
// The most one queued write may carry; 0 when the client gave no limit.
uint16_t virtualChannelMaxSize = 0;

inkora_mutex writeMutex;
inkora_event writeEvent;
bool writeSyncReady = false; // client thread only

// Guarded by writeMutex.
MEMORY_SECTION virtualChannelMemory{};
std::array<uint8_t, kBufferSize> virtualChannelBuffer{};
int32_t bufferPos = 0;
bool closing = false; // set by DriverClose: the reading thread stops waiting

// Read by the reading thread's direct sends while DriverClose runs.
std::atomic<bool> sendClosing{false};

uint8_t supportsImmediate = 0;
PSENDDATAPROC immediateWriteProc = nullptr;

std::array<char, kPathSize> agentPath{};
inkora_process child_process{};

// RAII guard for writeMutex.
class WriteLock {
public:
    WriteLock() { inkora_mutex_lock(&writeMutex); }
    ~WriteLock() { inkora_mutex_unlock(&writeMutex); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;
};

// ---- Calls towards the winstation driver --------------------------------

int VdCallWd(VD* pVd, uint16_t procedure, void* pParam, uint16_t* puiSize) {
    if (pVd == nullptr || pVd->pWdLink == nullptr || pVd->pWdLink->pProcedures == nullptr ||
        pVd->pWdLink->pProcedures[procedure] == nullptr) {
        return INKORA_CLIENT_ERROR_NULL_POINTER;
    }
    return pVd->pWdLink->pProcedures[procedure](pVd->pWdLink->pData, pParam, puiSize);
}

int citrix_query_info(VD* pVd, WDINFOCLASS infoClass, void* data, uint16_t size, uint16_t* returnSize) {
    WDQUERYINFORMATION query{};
    query.WdInformationClass = infoClass;
    query.pWdInformation = data;
    query.WdInformationLength = size;
    uint16_t localSize = 0;
    return VdCallWd(pVd, INKORA_WD_PROCEDURE_QUERY_INFORMATION, &query,
                    returnSize != nullptr ? returnSize : &localSize);
}

int citrix_set_info(VD* pVd, WDINFOCLASS infoClass, void* data, uint16_t size, uint16_t* returnSize) {
    WDSETINFORMATION set{};
    set.WdInformationClass = infoClass;
    set.pWdInformation = data;
    set.WdInformationLength = size;
    uint16_t localSize = 0;
    return VdCallWd(pVd, INKORA_WD_PROCEDURE_SET_INFORMATION, &set, returnSize != nullptr ? returnSize : &localSize);
}

// ---- Relay callbacks ----------------------------------------------------

// Channel data from the client: straight into the agent's standard input.
// Without an agent (none could be started, or it was torn down) the bytes
// have nowhere to go and are dropped; the write fails harmlessly once the
// agent has ended.
void inkora_citrix_incoming_data(void* /*pVdData*/, uint16_t /*channel*/, uint8_t* bytes, uint16_t length) {
    if (bytes == nullptr || length == 0 || child_process.write_outgoing == nullptr) {
        return;
    }
    // A signal handled by the client can end a write into a full pipe after
    // part of the bytes; the rest follows, or the stream would lose bytes.
    int32_t offset = 0;
    while (offset < length) {
        const int written = child_process.write_outgoing(&child_process, bytes + offset, length - offset);
        if (written <= 0) {
            return;
        }
        offset += written;
    }
}

int send_direct(const uint8_t* bytes, int32_t length) {
    // The client answers busy while its own output is full; the agent's
    // bytes are part of a stream and must not be dropped, so try again
    // shortly until sent, refused for good, or the channel closes.
    constexpr timespec kBusyPause{0, 1'000'000};
    for (;;) {
        uint8_t userData = 0;
        const int result = immediateWriteProc(virtualChannelWd, virtualChannelNumber, const_cast<uint8_t*>(bytes),
                                              static_cast<uint16_t>(length), &userData, kSendDataFlags);
        if (result == INKORA_CLIENT_STATUS_SUCCESS) {
            return 1;
        }
        if (result != INKORA_CLIENT_SEND_BUSY || sendClosing.load(std::memory_order_acquire)) {
            return 0;
        }
        nanosleep(&kBusyPause, nullptr);
    }
}

// Appends one piece of at most kBufferSize bytes, waiting for room while the
// buffer is too full. Returns false when the channel closes meanwhile.
bool buffer_piece(const uint8_t* bytes, std::size_t length) {
    for (;;) {
        {
            WriteLock lock;
            if (closing) {
                return false;
            }
            const std::size_t room = kBufferSize - static_cast<std::size_t>(bufferPos);
            if (length <= room) {
                std::memcpy(virtualChannelBuffer.data() + bufferPos, bytes, length);
                bufferPos += static_cast<int32_t>(length);
                return true;
            }
        }
        inkora_event_wait(&writeEvent);
        inkora_event_reset(&writeEvent);
    }
}

// Agent output towards the channel, on the reading thread. 1 = sent or
// buffered, 0 = refused.
int inkora_process_incoming_data(inkora_process* /*process*/, const uint8_t* bytes, int32_t length) {
    if (bytes == nullptr || length <= 0) {
        return 0;
    }
    if (supportsImmediate == 1) {
        return send_direct(bytes, length);
    }
    // The agent's output is one byte stream that the relay does not parse: a
    // read longer than the buffer is passed on in consecutive pieces rather
    // than lost, which would break the stream's framing.
    std::size_t offset = 0;
    const auto total = static_cast<std::size_t>(length);
    while (offset < total) {
        const std::size_t piece = std::min(kBufferSize, total - offset);
        if (!buffer_piece(bytes + offset, piece)) {
            return 0;
        }
        offset += piece;
    }
    return 1;
}

// ---- Driver procedures --------------------------------------------------

// Stops the agent and its relay. A reading thread waiting for room in the
// buffer, or retrying a busy direct send, is released first: no poll may
// come any more.
void stop_agent() {
    sendClosing.store(true, std::memory_order_release);
    if (writeSyncReady) {
        {
            WriteLock lock;
            closing = true;
        }
        inkora_event_trigger(&writeEvent);
    }
    inkora_destroy_process(&child_process);
}

int DriverOpen(VD* pVd, VDOPEN* pVdOpen, uint16_t* /*puiSize*/) {
    // An open without a close in between replaces the earlier agent.
    stop_agent();
    OPENVIRTUALCHANNEL openChannel{};
    openChannel.pVCName = INKORA_VIRTUAL_CHANNEL_NAME;
    int result = citrix_query_info(pVd, WdOpenVirtualChannel, &openChannel, sizeof(openChannel), nullptr);
    if (result != INKORA_CLIENT_STATUS_SUCCESS) {
        return result;
    }
    virtualChannelNumber = openChannel.Channel;
    // Channel numbers are small; a shift past the mask's width would be undefined.
    pVdOpen->ChannelMask = virtualChannelNumber < 32 ? uint32_t{1} << virtualChannelNumber : 0;
    pVd->pPrivate = nullptr;

    VDWRITEHOOK hook{};
    hook.Type = virtualChannelNumber;
    hook.pVdData = pVd;
    hook.pProc = inkora_citrix_incoming_data;
    result = citrix_set_info(pVd, WdVirtualWriteHook, &hook, sizeof(hook), nullptr);
    if (result != INKORA_CLIENT_STATUS_SUCCESS) {
        return result;
    }
    virtualChannelWd = hook.pWdData;
    virtualChannelWriteProc = hook.pQueueVirtualWriteProc;
    // One byte of the maximum is the client's overhead.
    virtualChannelMaxSize = hook.MaximumWriteSize > 1 ? static_cast<uint16_t>(hook.MaximumWriteSize - 1) : 0;

    VDWRITEHOOKEX hookEx{};
    supportsImmediate = 0;
    immediateWriteProc = nullptr;
    if (citrix_query_info(pVd, INKORA_WD_QUERY_WRITE_HOOK_EX, &hookEx, sizeof(hookEx), nullptr) ==
            INKORA_CLIENT_STATUS_SUCCESS &&
        hookEx.usVersion != 0 && hookEx.pSendDataProc != nullptr) {
        supportsImmediate = 1;
        immediateWriteProc = hookEx.pSendDataProc;
        WDSET_HPC_PROPERITES properties{};
        properties.pWdData = virtualChannelWd;
        properties.ulVdOptions = INKORA_HPC_VD_OPTIONS_NO_POLLING;
        properties.usVersion = INKORA_HPC_VD_API_VERSION_V1;
        result = citrix_set_info(pVd, INKORA_WD_SET_HPC_PROPERTIES, &properties, sizeof(properties), nullptr);
        if (result != INKORA_CLIENT_STATUS_SUCCESS) {
            supportsImmediate = 0;
            immediateWriteProc = nullptr;
            return result;
        }
    }

    // Initialised once: the client may open again after a close, and a
    // mutex must not be initialised twice.
    if (!writeSyncReady) {
        inkora_mutex_init(&writeMutex);
        inkora_event_init(&writeEvent);
        writeSyncReady = true;
    }
    {
        WriteLock lock;
        bufferPos = 0;
        closing = false;
        virtualChannelMemory.length = 0;
        virtualChannelMemory.pSection = virtualChannelBuffer.data();
    }
    inkora_event_reset(&writeEvent);
    sendClosing.store(false, std::memory_order_release);

    if (inkora_get_pipe_executable(agentPath.data(), static_cast<uint32_t>(agentPath.size())) == INKORA_CODE_SUCCESS) {
        child_process = inkora_process{};
        child_process.path = agentPath.data();
        child_process.read_incoming = inkora_process_incoming_data;
        // Without an agent the channel stays open and simply carries nothing.
        inkora_create_process(&child_process);
    }
    return INKORA_CLIENT_STATUS_SUCCESS;
}

int DriverClose(VD* /*pVd*/, DLLCLOSE* /*pClose*/, uint16_t* /*puiSize*/) {
    stop_agent();
    return INKORA_CLIENT_STATUS_SUCCESS;
}

int DriverInfo(VD* pVd, DLLINFO* pInfo, uint16_t* /*puiSize*/) {
    if (pInfo == nullptr) {
        return INKORA_CLIENT_ERROR_NULL_POINTER;
    }
    if (pInfo->ByteCount < kInfoSize) {
        pInfo->ByteCount = kInfoSize;
        return INKORA_CLIENT_ERROR_BUFFER_TOO_SMALL;
    }
    if (pInfo->pBuffer == nullptr) {
        return INKORA_CLIENT_ERROR_NO_OUTBUF;
    }
    // Only the fields the server reads are written; the rest of the client's
    // buffer is left as the client prepared it.
    auto* info = reinterpret_cast<inkora_citrix_virtual_channel_info*>(pInfo->pBuffer);
    info->citrix_info.Header.ByteCount = kInfoSize;
    info->citrix_info.Header.ModuleClass = INKORA_MODULE_VIRTUAL_DRIVER;
    info->citrix_info.Header.VersionL = 1;
    info->citrix_info.Header.VersionH = 1;
    std::memcpy(info->citrix_info.Header.ModuleName, "ICA", 4);
    info->citrix_info.ChannelMask = pVd != nullptr ? pVd->ChannelMask : 0;
    info->citrix_info.Flow.BandwidthQuota = 0;
    info->citrix_info.Flow.Flow = INKORA_VIRTUAL_FLOW_NONE;
    info->version_major = 1;
    info->version_minor = 0;
    info->version_release = 0;
    return INKORA_CLIENT_STATUS_SUCCESS;
}

int DriverPoll(VD* /*pVd*/, DLLPOLL* /*pPoll*/, uint16_t* /*puiSize*/) {
    if (!writeSyncReady || virtualChannelWriteProc == nullptr) {
        return INKORA_CLIENT_STATUS_NO_DATA;
    }
    bool sentAny = false;
    {
        WriteLock lock;
        // The buffer leaves in writes of at most the client's maximum size,
        // oldest bytes first, until it is empty or the client refuses.
        while (bufferPos > 0) {
            const auto held = static_cast<uint32_t>(bufferPos);
            const uint32_t count = virtualChannelMaxSize != 0 ? std::min<uint32_t>(held, virtualChannelMaxSize) : held;
            virtualChannelMemory.length = count;
            virtualChannelMemory.pSection = virtualChannelBuffer.data();
            if (virtualChannelWriteProc(virtualChannelWd, virtualChannelNumber, &virtualChannelMemory, 1,
                                        kQueuedWriteFlags) != INKORA_CLIENT_STATUS_SUCCESS) {
                break;
            }
            sentAny = true;
            std::memmove(virtualChannelBuffer.data(), virtualChannelBuffer.data() + count, held - count);
            bufferPos = static_cast<int32_t>(held - count);
        }
        if (!sentAny) {
            return bufferPos > 0 ? INKORA_CLIENT_STATUS_RETRY : INKORA_CLIENT_STATUS_NO_DATA;
        }
    }
    inkora_event_trigger(&writeEvent);
    return INKORA_CLIENT_STATUS_SUCCESS;
}

int DriverQueryInformation(VD* /*pVd*/, VDQUERYINFORMATION* /*pQuery*/, uint16_t* puiSize) {
    if (puiSize != nullptr) {
        *puiSize = kQueryAnswerSize;
    }
    return INKORA_CLIENT_STATUS_SUCCESS;
}

int DriverSetInformation(VD* /*pVd*/, VDSETINFORMATION* /*pSet*/, uint16_t* /*puiSize*/) {
    return INKORA_CLIENT_STATUS_SUCCESS;
}

// Not in the procedure table; kept for clients that ask for it by name.
[[maybe_unused]] int DriverGetLastError(VD* pVd, VDLASTERROR* pLastError) {
    if (pVd == nullptr || pLastError == nullptr) {
        return INKORA_CLIENT_ERROR_NULL_POINTER;
    }
    pLastError->Error = pVd->LastError;
    pLastError->Message[0] = '\0';
    return INKORA_CLIENT_STATUS_SUCCESS;
}

// ---- Entry layer: the procedure table ----------------------------------

void use_table(const char* name, void** table) {
    if (libMgrCallTable == nullptr || libMgrCallTable->pLMgrUse == nullptr) {
        return;
    }
    uint32_t version = 0;
    libMgrCallTable->pLMgrUse(name, &version, table);
}

[[maybe_unused]] LIBMGRCALLTABLE* VdLibMgr() {
    return libMgrCallTable;
}

int VdLoadEntry(void* pLink, void* /*pRecord*/, uint16_t* /*puiSize*/) {
    return Load(static_cast<DLLLINK*>(pLink));
}

int VdUnload(void* /*pVd*/, void* pRecord, uint16_t* /*puiSize*/) {
    auto* link = static_cast<DLLLINK*>(pRecord);
    if (link == nullptr) {
        return INKORA_CLIENT_ERROR_NULL_POINTER;
    }
    link->ProcCount = 0;
    link->pProcedures = nullptr;
    link->pData = nullptr;
    return INKORA_CLIENT_STATUS_SUCCESS;
}

int VdOpen(void* pData, void* pRecord, uint16_t* puiSize) {
    auto* pVd = static_cast<VD*>(pData);
    auto* pVdOpen = static_cast<VDOPEN*>(pRecord);
    if (pVd == nullptr || pVdOpen == nullptr) {
        return INKORA_CLIENT_ERROR_NULL_POINTER;
    }
    use_table("CTXMODULE", &CtxModuleTable);
    use_table("CTXKBD", &CtxKbdTable);
    use_table("CTXOS", &CtxOsTable);
    use_table("CTXWND", &CtxWndTable);
    use_table("VP.LIB.SUBLST", &VpSubListTable);
    use_table("CTXGRAPH", &CtxGraphTable);
    use_table("CTXSCA", &CtxScaTable);
    pfnWFEngPoll = pVdOpen->pfnWFEngPoll;
    pfnStatusMsgProc = pVdOpen->pfnStatusMsgProc;
    hICAEng = pVdOpen->hICAEng;
    *pVd = VD{};
    pVd->pWdLink = pVdOpen->pWdLink;
    const int result = DriverOpen(pVd, pVdOpen, puiSize);
    pVd->ChannelMask = pVdOpen->ChannelMask;
    return result;
}

int VdClose(void* pData, void* pRecord, uint16_t* puiSize) {
    return DriverClose(static_cast<VD*>(pData), static_cast<DLLCLOSE*>(pRecord), puiSize);
}

int VdInfo(void* pData, void* pRecord, uint16_t* puiSize) {
    return DriverInfo(static_cast<VD*>(pData), static_cast<DLLINFO*>(pRecord), puiSize);
}

int VdPoll(void* pData, void* pRecord, uint16_t* puiSize) {
    return DriverPoll(static_cast<VD*>(pData), static_cast<DLLPOLL*>(pRecord), puiSize);
}

int VdQueryInformation(void* pData, void* pRecord, uint16_t* puiSize) {
    return DriverQueryInformation(static_cast<VD*>(pData), static_cast<VDQUERYINFORMATION*>(pRecord), puiSize);
}

int VdSetInformation(void* pData, void* pRecord, uint16_t* puiSize) {
    return DriverSetInformation(static_cast<VD*>(pData), static_cast<VDSETINFORMATION*>(pRecord), puiSize);
}

std::array<PDLLPROCEDURE, INKORA_VD_PROCEDURE_COUNT> VdProcedures{
    VdLoadEntry, VdUnload, VdOpen, VdClose, VdInfo, VdPoll, VdQueryInformation, VdSetInformation,
};

} // namespace

extern "C" INKORA_API int Load(DLLLINK* pLink) {
    if (pLink == nullptr) {
        return INKORA_CLIENT_ERROR_NULL_POINTER;
    }
    pLink->ProcCount = INKORA_VD_PROCEDURE_COUNT;
    pLink->pProcedures = VdProcedures.data();
    pLink->pData = &VdData;
    libMgrCallTable = pLink->pLibMgrCallTable;
    return INKORA_CLIENT_STATUS_SUCCESS;
}
