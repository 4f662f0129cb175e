// The client harness: see ica-harness.h.
#include "ica-harness.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace inkora::harness {

namespace {

IcaClient* current = nullptr;

constexpr std::size_t kServerPacket = 4996;
constexpr int kUnknownClass = INKORA_CLIENT_ERROR;

void* handle_token() {
    return reinterpret_cast<void*>(IcaClient::kWinstationHandle);
}

} // namespace

IcaClient::IcaClient(ClientOptions options) : options_(options) {
    current = this;
    wdProcedures_[INKORA_WD_PROCEDURE_QUERY_INFORMATION] = &IcaClient::wdQuery;
    wdProcedures_[INKORA_WD_PROCEDURE_SET_INFORMATION] = &IcaClient::wdSet;
    wdLink_.ProcCount = 8;
    wdLink_.pProcedures = wdProcedures_;
    wdLink_.pData = this;
    libMgr_.pLMgrUse = &IcaClient::libMgrUse;
}

IcaClient::~IcaClient() {
    if (opened_) {
        close();
    }
    if (library_ != nullptr) {
        unload();
    }
    if (current == this) {
        current = nullptr;
    }
}

bool IcaClient::load(const std::string& pluginPath, std::string* error) {
    library_ = dlopen(pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        if (error != nullptr) {
            const char* text = dlerror();
            *error = text != nullptr ? text : "dlopen failed";
        }
        return false;
    }
    auto* entry = reinterpret_cast<int (*)(DLLLINK*)>(dlsym(library_, "Load"));
    if (entry == nullptr) {
        if (error != nullptr) {
            *error = "no Load in " + pluginPath;
        }
        return false;
    }
    link_ = DLLLINK{};
    link_.pLibMgrCallTable = &libMgr_;
    loadResult_ = entry(&link_);
    if (loadResult_ != 0 && error != nullptr) {
        *error = "Load answered " + std::to_string(loadResult_);
    }
    return loadResult_ == 0;
}

int IcaClient::call(int index, void* record) {
    if (link_.pProcedures == nullptr || index >= link_.ProcCount || link_.pProcedures[index] == nullptr) {
        return INKORA_CLIENT_ERROR_NULL_POINTER;
    }
    uint16_t size = 0;
    return link_.pProcedures[index](link_.pData, record, &size);
}

int IcaClient::info(uint8_t* buffer, uint16_t& byteCount) {
    DLLINFO record{};
    record.pBuffer = buffer;
    record.ByteCount = byteCount;
    const int result = call(4, &record);
    byteCount = record.ByteCount;
    return result;
}

std::optional<std::vector<uint8_t>> IcaClient::moduleInfo(uint8_t fill) {
    uint16_t needed = 0;
    if (info(nullptr, needed) != INKORA_CLIENT_ERROR_BUFFER_TOO_SMALL || needed == 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> block(needed, fill);
    uint16_t size = needed;
    if (info(block.data(), size) != INKORA_CLIENT_STATUS_SUCCESS) {
        return std::nullopt;
    }
    return block;
}

int IcaClient::open() {
    open_ = VDOPEN{};
    open_.pWdLink = &wdLink_;
    // Non-null stand-ins for the engine's poll and status procedures and handle.
    open_.pfnWFEngPoll = dummyTable_;
    open_.pfnStatusMsgProc = dummyTable_ + 8;
    open_.hICAEng = dummyTable_ + 16;
    const int result = call(2, &open_);
    opened_ = result == 0;
    return result;
}

int IcaClient::poll() {
    DLLPOLL record{};
    return call(5, &record);
}

int IcaClient::close() {
    DLLCLOSE record{};
    opened_ = false;
    const int result = call(3, &record);
    hook_ = VDWRITEHOOK{};
    return result;
}

int IcaClient::unload() {
    int result = 0;
    if (link_.pProcedures != nullptr) {
        uint16_t size = 0;
        result = link_.pProcedures[1](link_.pData, &link_, &size);
    }
    if (library_ != nullptr) {
        dlclose(library_);
        library_ = nullptr;
    }
    return result;
}

bool IcaClient::deliver(const void* data, std::size_t size) {
    if (hook_.pProc == nullptr) {
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::vector<uint8_t> packet;
    for (std::size_t offset = 0; offset < size; offset += kServerPacket) {
        const std::size_t piece = std::min(kServerPacket, size - offset);
        packet.assign(bytes + offset, bytes + offset + piece);
        hook_.pProc(hook_.pVdData, hook_.Type, packet.data(), static_cast<uint16_t>(piece));
    }
    return true;
}

void IcaClient::setSendBusyCount(int n) {
    std::lock_guard lock(mutex_);
    busyLeft_ = n;
}

std::vector<uint8_t> IcaClient::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<uint8_t> IcaClient::takeReceived() {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> out;
    out.swap(received_);
    return out;
}

bool IcaClient::waitForReceived(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (received_.size() >= count) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            if (options_.offerDirectSend) {
                arrived_.wait_until(lock, deadline, [&] { return received_.size() >= count; });
                continue;
            }
        }
        poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int IcaClient::pollUntilData(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int result = poll();
    while (result == INKORA_CLIENT_STATUS_NO_DATA && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        result = poll();
    }
    return result;
}

std::size_t IcaClient::directSendCount() const {
    std::lock_guard lock(mutex_);
    return directSends_;
}

std::size_t IcaClient::busyAnswers() const {
    std::lock_guard lock(mutex_);
    return busyAnswers_;
}

bool IcaClient::wrongHandleSeen() const {
    std::lock_guard lock(mutex_);
    return wrongHandle_;
}

int IcaClient::wdQuery(void* pData, void* pRecord, uint16_t* puiSize) {
    auto* self = static_cast<IcaClient*>(pData);
    auto* query = static_cast<WDQUERYINFORMATION*>(pRecord);
    if (self == nullptr || query == nullptr || puiSize == nullptr) {
        return INKORA_CLIENT_ERROR_NULL_POINTER;
    }
    self->queryClasses_.push_back(query->WdInformationClass);
    switch (query->WdInformationClass) {
    case WdOpenVirtualChannel: {
        if (query->pWdInformation == nullptr || query->WdInformationLength < sizeof(OPENVIRTUALCHANNEL)) {
            return INKORA_CLIENT_ERROR_BUFFER_TOO_SMALL;
        }
        auto* channel = static_cast<OPENVIRTUALCHANNEL*>(query->pWdInformation);
        self->channelName_ = channel->pVCName != nullptr ? channel->pVCName : "";
        if (self->options_.openChannelResult != 0) {
            return self->options_.openChannelResult;
        }
        channel->Channel = self->options_.channel;
        *puiSize = sizeof(OPENVIRTUALCHANNEL);
        return 0;
    }
    case INKORA_WD_QUERY_WRITE_HOOK_EX: {
        if (query->pWdInformation == nullptr || query->WdInformationLength < sizeof(VDWRITEHOOKEX)) {
            return INKORA_CLIENT_ERROR_BUFFER_TOO_SMALL;
        }
        // An older client answers success and leaves the record untouched.
        if (self->options_.offerDirectSend) {
            auto* hookEx = static_cast<VDWRITEHOOKEX*>(query->pWdInformation);
            hookEx->usVersion = 1;
            hookEx->pSendDataProc = &IcaClient::sendData;
            *puiSize = sizeof(VDWRITEHOOKEX);
        }
        return 0;
    }
    default:
        return kUnknownClass;
    }
}

int IcaClient::wdSet(void* pData, void* pRecord, uint16_t* puiSize) {
    auto* self = static_cast<IcaClient*>(pData);
    auto* set = static_cast<WDSETINFORMATION*>(pRecord);
    if (self == nullptr || set == nullptr || puiSize == nullptr) {
        return INKORA_CLIENT_ERROR_NULL_POINTER;
    }
    self->setClasses_.push_back(set->WdInformationClass);
    switch (set->WdInformationClass) {
    case WdVirtualWriteHook: {
        if (set->pWdInformation == nullptr || set->WdInformationLength < sizeof(VDWRITEHOOK)) {
            return INKORA_CLIENT_ERROR_BUFFER_TOO_SMALL;
        }
        if (self->options_.writeHookResult != 0) {
            return self->options_.writeHookResult;
        }
        auto* hook = static_cast<VDWRITEHOOK*>(set->pWdInformation);
        hook->pWdData = handle_token();
        hook->MaximumWriteSize = self->options_.maximumWriteSize;
        hook->pQueueVirtualWriteProc = &IcaClient::queuedWrite;
        self->hook_ = *hook;
        return 0;
    }
    case INKORA_WD_SET_HPC_PROPERTIES: {
        if (set->pWdInformation == nullptr || set->WdInformationLength < sizeof(WDSET_HPC_PROPERITES)) {
            return INKORA_CLIENT_ERROR_BUFFER_TOO_SMALL;
        }
        self->hpc_ = *static_cast<WDSET_HPC_PROPERITES*>(set->pWdInformation);
        return self->options_.hpcResult;
    }
    default:
        return kUnknownClass;
    }
}

int IcaClient::queuedWrite(void* pWdData, uint16_t channel, MEMORY_SECTION* sections, uint16_t count, uint16_t flags) {
    IcaClient* self = current;
    if (self == nullptr) {
        return INKORA_CLIENT_ERROR;
    }
    QueuedWrite write;
    write.sectionCount = count;
    write.flags = flags;
    for (uint16_t i = 0; sections != nullptr && i < count; ++i) {
        write.bytes.insert(write.bytes.end(), sections[i].pSection, sections[i].pSection + sections[i].length);
    }
    std::lock_guard lock(self->mutex_);
    if (pWdData != handle_token() || channel != self->options_.channel) {
        self->wrongHandle_ = true;
    }
    write.accepted = self->acceptQueued_;
    if (write.accepted) {
        self->received_.insert(self->received_.end(), write.bytes.begin(), write.bytes.end());
        self->arrived_.notify_all();
    }
    self->queuedWrites_.push_back(std::move(write));
    return self->acceptQueued_ ? 0 : 1;
}

int IcaClient::sendData(void* hWd, uint16_t channel, uint8_t* data, uint16_t length, void* userData,
                        uint32_t /*flags*/) {
    IcaClient* self = current;
    if (self == nullptr || data == nullptr || userData == nullptr) {
        return INKORA_CLIENT_ERROR;
    }
    std::lock_guard lock(self->mutex_);
    if (hWd != handle_token() || channel != self->options_.channel) {
        self->wrongHandle_ = true;
    }
    if (self->busyLeft_ > 0) {
        --self->busyLeft_;
        ++self->busyAnswers_;
        return INKORA_CLIENT_SEND_BUSY;
    }
    ++self->directSends_;
    self->received_.insert(self->received_.end(), data, data + length);
    self->arrived_.notify_all();
    return 0;
}

uint32_t IcaClient::libMgrUse(const char* name, uint32_t* version, void** table) {
    IcaClient* self = current;
    if (self == nullptr || name == nullptr || version == nullptr || table == nullptr) {
        return INKORA_CLIENT_ERROR_NULL_POINTER;
    }
    self->libraryTables_.emplace_back(name);
    *table = self->dummyTable_;
    return 0;
}

} // namespace inkora::harness
