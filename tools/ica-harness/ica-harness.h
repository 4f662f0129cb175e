// A stand-in for the Citrix client towards a virtual-channel driver plug-in:
// it loads the plug-in with dlopen, calls Load and then the driver
// procedures the way the client does, answers the winstation-driver queries
// and sets the plug-in makes (open channel 33, write hook 10, extended write
// hook 82, direct-send properties 88), hands channel data to the installed
// write hook, and collects what the plug-in sends, through queued writes at
// polls (buffered mode, with refusals on request) or through the direct send
// procedure. Used by the tests, the ica-harness program and demos.
//
// One IcaClient may exist at a time (the client's callbacks carry no context
// of their own besides the winstation handle). Its methods are called from
// one thread, as the client's; the direct send arrives on the plug-in's
// reading thread and is guarded internally.
#ifndef ICA_HARNESS_H
#define ICA_HARNESS_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ica-pipe-client.h"

namespace inkora::harness {

struct ClientOptions {
    uint16_t channel = 5;               // channel number given for "INKR_VC"
    bool offerDirectSend = false;       // answer query 82 with a send procedure
    int openChannelResult = 0;          // answer to query 33
    int writeHookResult = 0;            // answer to set 10
    int hpcResult = 0;                  // answer to set 88
    uint16_t maximumWriteSize = 8193;   // MaximumWriteSize of the hook (one byte overhead)
};

// One queued write the plug-in attempted at a poll.
struct QueuedWrite {
    std::vector<uint8_t> bytes; // all sections joined
    uint16_t sectionCount = 0;
    uint16_t flags = 0;
    bool accepted = false;
};

class IcaClient {
public:
    // The winstation handle the harness hands out; it has bits above 32 so
    // that a truncated handle shows.
    static constexpr uintptr_t kWinstationHandle = 0x5eed0000c0de0001ULL;

    explicit IcaClient(ClientOptions options = {});
    ~IcaClient();
    IcaClient(const IcaClient&) = delete;
    IcaClient& operator=(const IcaClient&) = delete;

    // dlopen + the exported Load. False with a reason in error on failure.
    bool load(const std::string& pluginPath, std::string* error = nullptr);
    int loadResult() const { return loadResult_; }
    const DLLLINK& link() const { return link_; }

    // One Info call with the given buffer (may be null) and byte count.
    int info(uint8_t* buffer, uint16_t& byteCount);
    // Info as the client asks: first with a null buffer and count 0, then
    // with a buffer of the size the plug-in named. The block, or nothing
    // when a call did not answer as expected. The buffer is filled with fill
    // before the second call, so untouched bytes show.
    std::optional<std::vector<uint8_t>> moduleInfo(uint8_t fill = 0);

    int open();
    int poll();
    int close();
    int unload(); // the table's Unload, then dlclose

    // Channel data from the server, through the installed write hook, in
    // pieces of at most 4996 bytes as the server writes them. False when no
    // hook is installed.
    bool deliver(const void* data, std::size_t size);
    bool deliver(const std::string& text) { return deliver(text.data(), text.size()); }

    // Buffered mode: while false, queued writes are refused (result 1).
    void setQueuedWritesAccepted(bool accepted) { acceptQueued_ = accepted; }
    // Direct mode: the next n sends are answered busy.
    void setSendBusyCount(int n);

    // Every byte the plug-in sent and the client accepted, in order.
    std::vector<uint8_t> received() const;
    std::vector<uint8_t> takeReceived();
    // Waits until at least count bytes were received; in buffered mode it
    // polls the plug-in meanwhile (every millisecond).
    bool waitForReceived(std::size_t count, std::chrono::milliseconds timeout);
    // Polls until a poll answers something other than 21 (nothing to send),
    // or the time is up; returns the last answer.
    int pollUntilData(std::chrono::milliseconds timeout);

    const std::vector<QueuedWrite>& queuedWrites() const { return queuedWrites_; }
    std::size_t directSendCount() const;
    std::size_t busyAnswers() const;
    // A send or queued write came with another handle than kWinstationHandle.
    bool wrongHandleSeen() const;

    const std::vector<int>& queryClasses() const { return queryClasses_; }
    const std::vector<int>& setClasses() const { return setClasses_; }
    const std::vector<std::string>& libraryTables() const { return libraryTables_; }
    const std::string& channelName() const { return channelName_; }
    std::optional<WDSET_HPC_PROPERITES> hpcProperties() const { return hpc_; }
    const VDOPEN& openRecord() const { return open_; }
    bool hookInstalled() const { return hook_.pProc != nullptr; }
    const VDWRITEHOOK& hook() const { return hook_; }

private:
    static int wdQuery(void* pData, void* pRecord, uint16_t* puiSize);
    static int wdSet(void* pData, void* pRecord, uint16_t* puiSize);
    static int queuedWrite(void* pWdData, uint16_t channel, MEMORY_SECTION* sections, uint16_t count, uint16_t flags);
    static int sendData(void* hWd, uint16_t channel, uint8_t* data, uint16_t length, void* userData, uint32_t flags);
    static uint32_t libMgrUse(const char* name, uint32_t* version, void** table);

    int call(int index, void* record);

    ClientOptions options_;
    void* library_ = nullptr;
    int loadResult_ = -1;
    DLLLINK link_{};
    DLLLINK wdLink_{};
    PDLLPROCEDURE wdProcedures_[8]{};
    LIBMGRCALLTABLE libMgr_{};
    VDOPEN open_{};
    VDWRITEHOOK hook_{};
    std::optional<WDSET_HPC_PROPERITES> hpc_;
    bool opened_ = false;
    bool acceptQueued_ = true;
    std::vector<QueuedWrite> queuedWrites_;
    std::vector<int> queryClasses_;
    std::vector<int> setClasses_;
    std::vector<std::string> libraryTables_;
    std::string channelName_;
    uint8_t dummyTable_[64]{};

    mutable std::mutex mutex_; // guards what the direct send touches
    std::condition_variable arrived_;
    std::vector<uint8_t> received_;
    std::size_t directSends_ = 0;
    std::size_t busyAnswers_ = 0;
    int busyLeft_ = 0;
    bool wrongHandle_ = false;
};

} // namespace inkora::harness

#endif // ICA_HARNESS_H
