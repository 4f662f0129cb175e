/*
 * The ica-pipe virtual-channel driver: the records and procedure types of the
 * Citrix Workspace app for Linux that the plug-in exchanges with the client,
 * declared here from the client's published interface (64-bit Linux, System V
 * calling convention), and the plug-in's one exported entry, Load.
 *
 * The plug-in "ica-pipe.so" opens the virtual channel "INKR_VC", starts the
 * agent (see inkora-process.h and ica-pipe-settings.h) and relays bytes both
 * ways. Every size and offset the client relies on is checked below at
 * compile time, in C as in C++.
 */
#ifndef ICA_PIPE_CLIENT_H
#define ICA_PIPE_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
#define ICA_PIPE_STATIC_ASSERT(condition, text) static_assert(condition, text)
#else
#define ICA_PIPE_STATIC_ASSERT(condition, text) _Static_assert(condition, text)
#endif

/* ---- Result codes of driver procedures and client calls ---------------- */
#define INKORA_CLIENT_STATUS_SUCCESS 0
#define INKORA_CLIENT_STATUS_NO_DATA 21 /* poll: nothing to send */
#define INKORA_CLIENT_STATUS_RETRY 30   /* poll: the client refused, try again */
#define INKORA_CLIENT_ERROR 1000
#define INKORA_CLIENT_ERROR_BUFFER_TOO_SMALL 1004
#define INKORA_CLIENT_ERROR_NULL_POINTER 1011 /* null pointer or missing table */
#define INKORA_CLIENT_ERROR_NO_OUTBUF 1016
#define INKORA_CLIENT_SEND_BUSY 2201 /* send data: the client cannot take it now */

/* ---- Names and fixed values of this channel --------------------------- */
#define INKORA_VIRTUAL_CHANNEL_NAME "INKR_VC"
#define INKORA_MODULE_VIRTUAL_DRIVER 3 /* ModuleClass Module_VirtualDriver */
#define INKORA_VIRTUAL_FLOW_NONE 0     /* VDFLOW Flow VirtualFlow_None */
#define INKORA_HPC_VD_OPTIONS_NO_POLLING 1
#define INKORA_HPC_VD_API_VERSION_V1 1
#define INKORA_VD_PROCEDURE_COUNT 8
#define INKORA_WD_PROCEDURE_QUERY_INFORMATION 6
#define INKORA_WD_PROCEDURE_SET_INFORMATION 7

/* Information classes of the winstation driver's query and set procedures. */
typedef enum _WDINFOCLASS {
    WdVirtualWriteHook = 10,              /* set: install the write hook */
    WdOpenVirtualChannel = 33,            /* query: open a channel by name */
    INKORA_WD_QUERY_WRITE_HOOK_EX = 82,   /* query: the extended write hook (direct send) */
    INKORA_WD_SET_HPC_PROPERTIES = 88     /* set: properties of the direct-send interface */
} WDINFOCLASS;

/* ---- Procedure types --------------------------------------------------- */

/*
 * Every entry of a driver's procedure table, ours and the winstation
 * driver's: (the driver's data, a request record, a 16-bit size).
 */
typedef int (*PDLLPROCEDURE)(void* pData, void* pRecord, uint16_t* puiSize);

/* The write hook's data-arrival procedure; the client ignores any result. */
typedef void (*PVDWRITEPROCEDURE)(void* pVdData, uint16_t usChannel, uint8_t* pBuffer, uint16_t usLength);

/* Queued write towards the server: 0 = accepted. */
typedef struct _MEMORY_SECTION MEMORY_SECTION;
typedef int (*PQUEUEVIRTUALWRITEPROC)(void* pWdData, uint16_t usChannel, MEMORY_SECTION* pSections,
                                      uint16_t usSectionCount, uint16_t usFlags);

/*
 * Direct send of the extended write hook: 0 = sent, INKORA_CLIENT_SEND_BUSY
 * = try later. The first argument carries the full winstation handle.
 */
typedef int (*PSENDDATAPROC)(void* hWd, uint16_t usChannel, uint8_t* pData, uint16_t usLength, void* pUserData,
                             uint32_t uiFlags);

/* Library manager entry Use: a call table by name; 0 = success. */
typedef uint32_t (*PLIBMGRUSEPROC)(const char* pName, uint32_t* pVersion, void** ppTable);

/* The library manager's call table (pLibMgrCallTable of DLLLINK). */
typedef struct _LIBMGRCALLTABLE {
    void (*pLMgrLoad)(void);
    void (*pLMgrUnload)(void);
    PLIBMGRUSEPROC pLMgrUse;
    void (*pLMgrRelease)(void);
    void (*pLMgrQueryTable)(void);
    void (*pLMgrUpdateTable)(void);
} LIBMGRCALLTABLE;

/* ---- Records of natural alignment -------------------------------------- */

typedef struct _DLLLINK {
    uint16_t Segment;
    uint16_t DllSize;
    uint16_t ProcCount;          /* number of entries in pProcedures */
    PDLLPROCEDURE* pProcedures;  /* the driver's procedure table */
    void* pData;                 /* the driver's data, passed back to each procedure */
    void* pMemory;
    char ModuleName[13];
    LIBMGRCALLTABLE* pLibMgrCallTable;
    uint16_t ModuleDate;
    uint16_t ModuleTime;
    uint32_t ModuleSize;
    struct _DLLLINK* pNext;
    uint32_t DllFlags;
    void* hLibrary; /* the client's own; nothing relies on it */
} DLLLINK;

typedef struct _VD {
    uint32_t ChannelMask; /* 1 << channel number of each channel the driver owns */
    DLLLINK* pWdLink;     /* the winstation driver */
    int LastError;
    void* pPrivate;
} VD;

typedef struct _VDOPEN {
    void* pIniSection;
    DLLLINK* pWdLink;
    uint32_t ChannelMask;
    void* pfnWFEngPoll;
    void* pfnStatusMsgProc;
    void* hICAEng;
} VDOPEN;

typedef struct _DLLINFO {
    uint8_t* pBuffer;   /* where the module information block goes */
    uint16_t ByteCount; /* size of pBuffer; set to the size needed when too small */
} DLLINFO;

typedef struct _DLLCLOSE {
    uint32_t NotUsed;
} DLLCLOSE;

typedef struct _DLLPOLL {
    uint32_t CurrentTime; /* milliseconds */
} DLLPOLL;

typedef struct _WDQUERYINFORMATION {
    WDINFOCLASS WdInformationClass;
    void* pWdInformation;
    uint16_t WdInformationLength;
    uint16_t WdReturnLength;
} WDQUERYINFORMATION;

typedef struct _WDSETINFORMATION {
    WDINFOCLASS WdInformationClass;
    void* pWdInformation;
    uint16_t WdInformationLength;
} WDSETINFORMATION;

typedef struct _VDQUERYINFORMATION {
    int VdInformationClass;
    void* pVdInformation;
    int VdInformationLength;
    int VdReturnLength;
} VDQUERYINFORMATION;

typedef struct _VDSETINFORMATION {
    int VdInformationClass;
    void* pVdInformation;
    int VdInformationLength;
} VDSETINFORMATION;

typedef struct _VDLASTERROR {
    int Error;
    char Message[288];
} VDLASTERROR;

typedef struct _OPENVIRTUALCHANNEL {
    const char* pVCName; /* channel name, at most 7 letters or digits */
    uint16_t Channel;    /* set by the client: the channel number */
} OPENVIRTUALCHANNEL;

struct _MEMORY_SECTION {
    uint32_t length;
    uint8_t* pSection;
};

typedef struct _VDWRITEHOOK {
    uint16_t Type; /* the channel number */
    void* pVdData; /* passed back to pProc */
    PVDWRITEPROCEDURE pProc;
    void* pWdData; /* set by the client: its handle for the write procedures */
    void* pOutBufReserveProc;
    void* pOutBufAppendProc;
    void* pOutBufWriteProc;
    void* pAppendVdHeaderProc;
    uint16_t MaximumWriteSize; /* set by the client; one byte of it is overhead */
    PQUEUEVIRTUALWRITEPROC pQueueVirtualWriteProc;
} VDWRITEHOOK;

typedef struct _VDWRITEHOOKEX {
    uint16_t usVersion; /* 0 after the query: the client has no direct send */
    PSENDDATAPROC pSendDataProc;
    uint16_t usExtraLength;
    void* pExtraData;
    void* pHpcCallTable;
} VDWRITEHOOKEX;

typedef struct _WDSET_HPC_PROPERITES {
    void* pWdData;
    uint32_t ulVdOptions;
    uint16_t usVersion;
} WDSET_HPC_PROPERITES;

/* ---- Module information records, byte-packed --------------------------- */
#pragma pack(push, 1)

typedef struct _MODULE_C2H {
    uint16_t ByteCount;
    uint8_t ModuleCount;
    uint8_t ModuleClass;
    uint8_t VersionL;
    uint8_t VersionH;
    char ModuleName[13];
    char HostModuleName[9];
    uint16_t ModuleDate;
    uint16_t ModuleTime;
    uint32_t ModuleSize;
} MODULE_C2H;

typedef struct _VDFLOWACK {
    uint16_t MaxWindowSize;
    uint16_t WindowSize;
} VDFLOWACK;

typedef struct _VDFLOWDELAY {
    uint32_t DelayTime;
} VDFLOWDELAY;

typedef struct _VDFLOWCDM {
    uint16_t MaxWindowSize;
    uint16_t MaxByteCount;
} VDFLOWCDM;

typedef union _VDFLOWU {
    VDFLOWACK Ack;
    VDFLOWDELAY Delay;
    VDFLOWCDM Cdm;
} VDFLOWU;

typedef struct _VDFLOW {
    uint8_t BandwidthQuota;
    uint8_t Flow;
    uint8_t Pad1[2];
    VDFLOWU u;
} VDFLOW;

typedef struct _VD_C2H {
    MODULE_C2H Header;
    uint32_t ChannelMask;
    VDFLOW Flow;
} VD_C2H;

/* What DriverInfo writes: the client's record and the plug-in's version. */
typedef struct inkora_citrix_virtual_channel_info {
    VD_C2H citrix_info;
    uint8_t version_major;
    uint8_t version_minor;
    uint8_t version_release;
} inkora_citrix_virtual_channel_info;

#pragma pack(pop)

/* ---- Layout checks ------------------------------------------------------ */
ICA_PIPE_STATIC_ASSERT(sizeof(void*) == 8, "the client is a 64-bit program");
ICA_PIPE_STATIC_ASSERT(sizeof(WDINFOCLASS) == 4, "information class is 32-bit");

ICA_PIPE_STATIC_ASSERT(sizeof(DLLLINK) == 88, "DLLLINK size");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, Segment) == 0, "DLLLINK.Segment");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, DllSize) == 2, "DLLLINK.DllSize");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, ProcCount) == 4, "DLLLINK.ProcCount");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, pProcedures) == 8, "DLLLINK.pProcedures");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, pData) == 16, "DLLLINK.pData");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, pMemory) == 24, "DLLLINK.pMemory");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, ModuleName) == 32, "DLLLINK.ModuleName");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, pLibMgrCallTable) == 48, "DLLLINK.pLibMgrCallTable");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, ModuleDate) == 56, "DLLLINK.ModuleDate");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, ModuleTime) == 58, "DLLLINK.ModuleTime");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, ModuleSize) == 60, "DLLLINK.ModuleSize");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, pNext) == 64, "DLLLINK.pNext");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLLINK, DllFlags) == 72, "DLLLINK.DllFlags");

ICA_PIPE_STATIC_ASSERT(sizeof(VD) == 32, "VD size");
ICA_PIPE_STATIC_ASSERT(offsetof(VD, ChannelMask) == 0, "VD.ChannelMask");
ICA_PIPE_STATIC_ASSERT(offsetof(VD, pWdLink) == 8, "VD.pWdLink");
ICA_PIPE_STATIC_ASSERT(offsetof(VD, LastError) == 16, "VD.LastError");
ICA_PIPE_STATIC_ASSERT(offsetof(VD, pPrivate) == 24, "VD.pPrivate");

ICA_PIPE_STATIC_ASSERT(sizeof(VDOPEN) == 48, "VDOPEN size");
ICA_PIPE_STATIC_ASSERT(offsetof(VDOPEN, pIniSection) == 0, "VDOPEN first pointer");
ICA_PIPE_STATIC_ASSERT(offsetof(VDOPEN, pWdLink) == 8, "VDOPEN.pWdLink");
ICA_PIPE_STATIC_ASSERT(offsetof(VDOPEN, ChannelMask) == 16, "VDOPEN.ChannelMask");
ICA_PIPE_STATIC_ASSERT(offsetof(VDOPEN, pfnWFEngPoll) == 24, "VDOPEN.pfnWFEngPoll");
ICA_PIPE_STATIC_ASSERT(offsetof(VDOPEN, pfnStatusMsgProc) == 32, "VDOPEN.pfnStatusMsgProc");
ICA_PIPE_STATIC_ASSERT(offsetof(VDOPEN, hICAEng) == 40, "VDOPEN.hICAEng");

ICA_PIPE_STATIC_ASSERT(sizeof(DLLINFO) == 16, "DLLINFO size");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLINFO, pBuffer) == 0, "DLLINFO.pBuffer");
ICA_PIPE_STATIC_ASSERT(offsetof(DLLINFO, ByteCount) == 8, "DLLINFO.ByteCount");
ICA_PIPE_STATIC_ASSERT(sizeof(DLLCLOSE) == 4, "DLLCLOSE size");
ICA_PIPE_STATIC_ASSERT(sizeof(DLLPOLL) == 4, "DLLPOLL size");

ICA_PIPE_STATIC_ASSERT(sizeof(WDQUERYINFORMATION) == 24, "WDQUERYINFORMATION size");
ICA_PIPE_STATIC_ASSERT(offsetof(WDQUERYINFORMATION, WdInformationClass) == 0, "WDQUERYINFORMATION class");
ICA_PIPE_STATIC_ASSERT(offsetof(WDQUERYINFORMATION, pWdInformation) == 8, "WDQUERYINFORMATION data");
ICA_PIPE_STATIC_ASSERT(offsetof(WDQUERYINFORMATION, WdInformationLength) == 16, "WDQUERYINFORMATION length");
ICA_PIPE_STATIC_ASSERT(offsetof(WDQUERYINFORMATION, WdReturnLength) == 18, "WDQUERYINFORMATION return length");
ICA_PIPE_STATIC_ASSERT(sizeof(WDSETINFORMATION) == 24, "WDSETINFORMATION size");
ICA_PIPE_STATIC_ASSERT(offsetof(WDSETINFORMATION, WdInformationClass) == 0, "WDSETINFORMATION class");
ICA_PIPE_STATIC_ASSERT(offsetof(WDSETINFORMATION, pWdInformation) == 8, "WDSETINFORMATION data");
ICA_PIPE_STATIC_ASSERT(offsetof(WDSETINFORMATION, WdInformationLength) == 16, "WDSETINFORMATION length");

ICA_PIPE_STATIC_ASSERT(sizeof(VDQUERYINFORMATION) == 24, "VDQUERYINFORMATION size");
ICA_PIPE_STATIC_ASSERT(offsetof(VDQUERYINFORMATION, VdInformationClass) == 0, "VDQUERYINFORMATION class");
ICA_PIPE_STATIC_ASSERT(offsetof(VDQUERYINFORMATION, pVdInformation) == 8, "VDQUERYINFORMATION data");
ICA_PIPE_STATIC_ASSERT(offsetof(VDQUERYINFORMATION, VdInformationLength) == 16, "VDQUERYINFORMATION length");
ICA_PIPE_STATIC_ASSERT(offsetof(VDQUERYINFORMATION, VdReturnLength) == 20, "VDQUERYINFORMATION return length");
ICA_PIPE_STATIC_ASSERT(sizeof(VDSETINFORMATION) == 24, "VDSETINFORMATION size");
ICA_PIPE_STATIC_ASSERT(offsetof(VDSETINFORMATION, VdInformationClass) == 0, "VDSETINFORMATION class");
ICA_PIPE_STATIC_ASSERT(offsetof(VDSETINFORMATION, pVdInformation) == 8, "VDSETINFORMATION data");
ICA_PIPE_STATIC_ASSERT(offsetof(VDSETINFORMATION, VdInformationLength) == 16, "VDSETINFORMATION length");

ICA_PIPE_STATIC_ASSERT(sizeof(VDLASTERROR) == 292, "VDLASTERROR size");
ICA_PIPE_STATIC_ASSERT(offsetof(VDLASTERROR, Error) == 0, "VDLASTERROR.Error");
ICA_PIPE_STATIC_ASSERT(offsetof(VDLASTERROR, Message) == 4, "VDLASTERROR.Message");

ICA_PIPE_STATIC_ASSERT(sizeof(OPENVIRTUALCHANNEL) == 16, "OPENVIRTUALCHANNEL size");
ICA_PIPE_STATIC_ASSERT(offsetof(OPENVIRTUALCHANNEL, pVCName) == 0, "OPENVIRTUALCHANNEL.pVCName");
ICA_PIPE_STATIC_ASSERT(offsetof(OPENVIRTUALCHANNEL, Channel) == 8, "OPENVIRTUALCHANNEL.Channel");

ICA_PIPE_STATIC_ASSERT(sizeof(MEMORY_SECTION) == 16, "MEMORY_SECTION size");
ICA_PIPE_STATIC_ASSERT(offsetof(MEMORY_SECTION, length) == 0, "MEMORY_SECTION.length");
ICA_PIPE_STATIC_ASSERT(offsetof(MEMORY_SECTION, pSection) == 8, "MEMORY_SECTION.pSection");

ICA_PIPE_STATIC_ASSERT(sizeof(VDWRITEHOOK) == 80, "VDWRITEHOOK size");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOK, Type) == 0, "VDWRITEHOOK.Type");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOK, pVdData) == 8, "VDWRITEHOOK.pVdData");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOK, pProc) == 16, "VDWRITEHOOK.pProc");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOK, pWdData) == 24, "VDWRITEHOOK.pWdData");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOK, pOutBufReserveProc) == 32, "VDWRITEHOOK buffer procedure 1");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOK, pOutBufAppendProc) == 40, "VDWRITEHOOK buffer procedure 2");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOK, pOutBufWriteProc) == 48, "VDWRITEHOOK buffer procedure 3");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOK, pAppendVdHeaderProc) == 56, "VDWRITEHOOK buffer procedure 4");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOK, MaximumWriteSize) == 64, "VDWRITEHOOK.MaximumWriteSize");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOK, pQueueVirtualWriteProc) == 72, "VDWRITEHOOK.pQueueVirtualWriteProc");

ICA_PIPE_STATIC_ASSERT(sizeof(VDWRITEHOOKEX) == 40, "VDWRITEHOOKEX size");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOKEX, usVersion) == 0, "VDWRITEHOOKEX.usVersion");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOKEX, pSendDataProc) == 8, "VDWRITEHOOKEX.pSendDataProc");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOKEX, usExtraLength) == 16, "VDWRITEHOOKEX.usExtraLength");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOKEX, pExtraData) == 24, "VDWRITEHOOKEX.pExtraData");
ICA_PIPE_STATIC_ASSERT(offsetof(VDWRITEHOOKEX, pHpcCallTable) == 32, "VDWRITEHOOKEX.pHpcCallTable");

ICA_PIPE_STATIC_ASSERT(sizeof(WDSET_HPC_PROPERITES) == 16, "WDSET_HPC_PROPERITES size");
ICA_PIPE_STATIC_ASSERT(offsetof(WDSET_HPC_PROPERITES, pWdData) == 0, "WDSET_HPC_PROPERITES.pWdData");
ICA_PIPE_STATIC_ASSERT(offsetof(WDSET_HPC_PROPERITES, ulVdOptions) == 8, "WDSET_HPC_PROPERITES.ulVdOptions");
ICA_PIPE_STATIC_ASSERT(offsetof(WDSET_HPC_PROPERITES, usVersion) == 12, "WDSET_HPC_PROPERITES.usVersion");

ICA_PIPE_STATIC_ASSERT(sizeof(LIBMGRCALLTABLE) == 48, "library manager table: six entries");
ICA_PIPE_STATIC_ASSERT(offsetof(LIBMGRCALLTABLE, pLMgrUse) == 16, "library manager Use is the third entry");

ICA_PIPE_STATIC_ASSERT(sizeof(MODULE_C2H) == 36, "MODULE_C2H size");
ICA_PIPE_STATIC_ASSERT(offsetof(MODULE_C2H, ByteCount) == 0, "MODULE_C2H.ByteCount");
ICA_PIPE_STATIC_ASSERT(offsetof(MODULE_C2H, ModuleCount) == 2, "MODULE_C2H.ModuleCount");
ICA_PIPE_STATIC_ASSERT(offsetof(MODULE_C2H, ModuleClass) == 3, "MODULE_C2H.ModuleClass");
ICA_PIPE_STATIC_ASSERT(offsetof(MODULE_C2H, VersionL) == 4, "MODULE_C2H.VersionL");
ICA_PIPE_STATIC_ASSERT(offsetof(MODULE_C2H, VersionH) == 5, "MODULE_C2H.VersionH");
ICA_PIPE_STATIC_ASSERT(offsetof(MODULE_C2H, ModuleName) == 6, "MODULE_C2H.ModuleName");
ICA_PIPE_STATIC_ASSERT(offsetof(MODULE_C2H, HostModuleName) == 19, "MODULE_C2H.HostModuleName");
ICA_PIPE_STATIC_ASSERT(offsetof(MODULE_C2H, ModuleDate) == 28, "MODULE_C2H.ModuleDate");
ICA_PIPE_STATIC_ASSERT(offsetof(MODULE_C2H, ModuleTime) == 30, "MODULE_C2H.ModuleTime");
ICA_PIPE_STATIC_ASSERT(offsetof(MODULE_C2H, ModuleSize) == 32, "MODULE_C2H.ModuleSize");
ICA_PIPE_STATIC_ASSERT(sizeof(VDFLOW) == 8, "VDFLOW size");
ICA_PIPE_STATIC_ASSERT(sizeof(VD_C2H) == 48, "VD_C2H size");
ICA_PIPE_STATIC_ASSERT(offsetof(VD_C2H, ChannelMask) == 36, "VD_C2H.ChannelMask");
ICA_PIPE_STATIC_ASSERT(offsetof(VD_C2H, Flow) == 40, "VD_C2H.Flow");
ICA_PIPE_STATIC_ASSERT(offsetof(VD_C2H, Flow) + offsetof(VDFLOW, BandwidthQuota) == 40, "VDFLOW.BandwidthQuota");
ICA_PIPE_STATIC_ASSERT(offsetof(VD_C2H, Flow) + offsetof(VDFLOW, Flow) == 41, "VDFLOW.Flow");
ICA_PIPE_STATIC_ASSERT(offsetof(VD_C2H, Flow) + offsetof(VDFLOW, Pad1) == 42, "VDFLOW.Pad1");
ICA_PIPE_STATIC_ASSERT(offsetof(VD_C2H, Flow) + offsetof(VDFLOW, u) == 44, "VDFLOW union");
ICA_PIPE_STATIC_ASSERT(sizeof(inkora_citrix_virtual_channel_info) == 51, "module information block size");
ICA_PIPE_STATIC_ASSERT(offsetof(inkora_citrix_virtual_channel_info, version_major) == 48, "version_major");
ICA_PIPE_STATIC_ASSERT(offsetof(inkora_citrix_virtual_channel_info, version_minor) == 49, "version_minor");
ICA_PIPE_STATIC_ASSERT(offsetof(inkora_citrix_virtual_channel_info, version_release) == 50, "version_release");

/* ---- The plug-in's exported entry -------------------------------------- */

/*
 * Called by the client once after loading "ica-pipe.so": fills pLink's
 * ProcCount (8), pProcedures (Load, Unload, Open, Close, Info, Poll,
 * QueryInformation, SetInformation) and pData (the plug-in's VD record,
 * which the client passes to every procedure), and keeps the library
 * manager's call table. Returns 0, or 1011 for a null link. Client thread.
 */
INKORA_API int Load(DLLLINK* pLink);

#ifdef __cplusplus
}
#endif

#endif /* ICA_PIPE_CLIENT_H */
