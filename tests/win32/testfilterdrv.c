/* SPDX-License-Identifier: GPL-3.0-or-later
 * A small kernel driver that plays the traffic filter for the Windows backend's tests: it makes
 * the filter's control device and answers its six request codes from lists a test sets through
 * a scripting code. Lists go out in as many chunks as the caller's buffer needs (more data, then
 * the continued code), a buffer too small for the next record gets "insufficient buffer", and
 * block and unblock requests are recorded so that a later query shows them.
 *
 * One test client drives it at a time (wine hands a driver its requests on one thread), so the
 * state below is plain globals. */
#include <ddk/wdm.h>

#define LIST_PATHS 0
#define LIST_CONNECTIONS 1

/* The six codes of the filter device. */
#define CODE_PATHS_FIRST 0x126C06
#define CODE_PATHS_NEXT 0x126C02
#define CODE_CONNECTIONS_FIRST 0x127006
#define CODE_CONNECTIONS_NEXT 0x127002
#define CODE_BLOCK 0x12A809
#define CODE_UNBLOCK 0x12A80D
/* Scripting, on a device type of its own so that no filter code collides with it. Input: one
 * command byte, then its argument. Output (query only): the blocked paths, UTF-16, each with
 * its NUL. */
#define CODE_SCRIPT CTL_CODE(0x8321, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS)
enum {
    SCRIPT_SET_PATHS = 1,       /* path records back to back, each with its length in front */
    SCRIPT_SET_CONNECTIONS = 2, /* 39-byte items back to back */
    SCRIPT_FAIL_NEXT_READS = 3, /* u32 count, i32 status: the next list reads answer only that */
    SCRIPT_QUERY_BLOCKED = 4,
    SCRIPT_RESET = 5
};

#define PATH_HEAD 12
#define PATH_END 12
#define CONN_HEAD 2
#define CONN_ITEM 39
#define LIST_CAPACITY 65536
#define MAX_BLOCKED 16
#define MAX_BLOCKED_CHARS 512

struct list
{
    UCHAR data[LIST_CAPACITY];
    ULONG length;
    ULONG cursor; /* where the next chunk starts */
};

static struct list lists[2];
static ULONG failReads;
static NTSTATUS failStatus;
static WCHAR blocked[MAX_BLOCKED][MAX_BLOCKED_CHARS];
static ULONG blockedCount;
static UNICODE_STRING deviceName, linkName;

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS WINAPI onCreateClose(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

static ULONG readU32(const UCHAR* p)
{
    return (ULONG)p[0] | ((ULONG)p[1] << 8) | ((ULONG)p[2] << 16) | ((ULONG)p[3] << 24);
}

/* Path records must each be at least a head long and end inside the list. */
static BOOLEAN pathRecordsValid(const UCHAR* data, ULONG length)
{
    ULONG at = 0;
    while (at < length) {
        ULONG r = length - at >= 4 ? readU32(data + at) : 0;
        if (r < PATH_HEAD || r > length - at)
            return FALSE;
        at += r;
    }
    return TRUE;
}

static ULONG recordLength(int kind, const struct list* l, ULONG at)
{
    return kind == LIST_PATHS ? readU32(l->data + at) : CONN_ITEM;
}

/* The next chunk of a list into out: whole records, then the list's end. */
static NTSTATUS nextChunk(int kind, UCHAR* out, ULONG capacity, ULONG* written)
{
    struct list* l = &lists[kind];
    const ULONG head = kind == LIST_PATHS ? 0 : CONN_HEAD;
    const ULONG end = kind == LIST_PATHS ? PATH_END : CONN_ITEM;
    ULONG used = head, count = 0;
    *written = 0;
    if (capacity < head + end)
        return STATUS_BUFFER_TOO_SMALL;
    while (l->cursor < l->length) {
        ULONG r = recordLength(kind, l, l->cursor);
        if (used + r + end > capacity)
            break;
        RtlCopyMemory(out + used, l->data + l->cursor, r);
        used += r;
        l->cursor += r;
        ++count;
    }
    if (count == 0 && l->cursor < l->length)
        return STATUS_BUFFER_TOO_SMALL;
    if (kind == LIST_CONNECTIONS) {
        out[0] = (UCHAR)(count & 0xFF);
        out[1] = (UCHAR)(count >> 8);
    }
    RtlZeroMemory(out + used, end);
    *written = used + end;
    return l->cursor < l->length ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

static NTSTATUS readList(PIRP irp, int kind, BOOLEAN first, ULONG capacity)
{
    UCHAR* out;
    ULONG written = 0;
    NTSTATUS status;
    if (first)
        lists[kind].cursor = 0;
    if (failReads > 0) {
        --failReads;
        return complete(irp, failStatus, 0);
    }
    /* The list codes hand the output over directly (an MDL), not through the system buffer. */
    out =
        irp->MdlAddress ? MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority) : NULL;
    if (!out)
        return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    status = nextChunk(kind, out, capacity, &written);
    return complete(irp, status, written);
}

/* A request's path: UTF-16 that ends with its one NUL. */
static BOOLEAN requestPath(const UCHAR* in, ULONG length, const WCHAR** path)
{
    const WCHAR* text = (const WCHAR*)in;
    ULONG chars = length / 2, i;
    if (!in || length < 2 || length % 2 != 0 || chars > MAX_BLOCKED_CHARS || text[chars - 1] != 0)
        return FALSE;
    for (i = 0; i + 1 < chars; ++i)
        if (text[i] == 0)
            return FALSE;
    *path = text;
    return TRUE;
}

static LONG findBlocked(const WCHAR* path)
{
    ULONG i, j;
    for (i = 0; i < blockedCount; ++i) {
        for (j = 0; blocked[i][j] == path[j] && path[j] != 0; ++j)
            ;
        if (blocked[i][j] == path[j])
            return (LONG)i;
    }
    return -1;
}

static NTSTATUS blockRequest(PIRP irp, BOOLEAN block, const UCHAR* in, ULONG length)
{
    const WCHAR* path = NULL;
    LONG at;
    if (!requestPath(in, length, &path))
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    at = findBlocked(path);
    if (block && at < 0) {
        if (blockedCount == MAX_BLOCKED)
            return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        RtlCopyMemory(blocked[blockedCount++], path, length);
    } else if (!block && at >= 0) {
        RtlCopyMemory(blocked[at], blocked[blockedCount - 1], sizeof blocked[0]);
        --blockedCount;
    }
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS queryBlocked(PIRP irp, UCHAR* out, ULONG capacity)
{
    ULONG used = 0, i, bytes;
    for (i = 0; i < blockedCount; ++i) {
        for (bytes = 0; blocked[i][bytes / 2] != 0; bytes += 2)
            ;
        bytes += 2;
        if (used + bytes > capacity)
            return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        RtlCopyMemory(out + used, blocked[i], bytes);
        used += bytes;
    }
    return complete(irp, STATUS_SUCCESS, used);
}

static NTSTATUS setList(PIRP irp, int kind, const UCHAR* data, ULONG length)
{
    if (length > LIST_CAPACITY || (kind == LIST_CONNECTIONS && length % CONN_ITEM != 0) ||
        (kind == LIST_PATHS && !pathRecordsValid(data, length)))
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    RtlCopyMemory(lists[kind].data, data, length);
    lists[kind].length = length;
    lists[kind].cursor = 0;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS script(PIRP irp, UCHAR* buffer, ULONG inLength, ULONG outLength)
{
    const UCHAR* arg;
    ULONG argLength;
    if (!buffer || inLength < 1)
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    arg = buffer + 1;
    argLength = inLength - 1;
    switch (buffer[0]) {
    case SCRIPT_SET_PATHS:
        return setList(irp, LIST_PATHS, arg, argLength);
    case SCRIPT_SET_CONNECTIONS:
        return setList(irp, LIST_CONNECTIONS, arg, argLength);
    case SCRIPT_FAIL_NEXT_READS:
        if (argLength != 8)
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        failReads = readU32(arg);
        failStatus = (NTSTATUS)readU32(arg + 4);
        return complete(irp, STATUS_SUCCESS, 0);
    case SCRIPT_QUERY_BLOCKED:
        return queryBlocked(irp, buffer, outLength);
    case SCRIPT_RESET:
        RtlZeroMemory(lists, sizeof lists);
        failReads = 0;
        blockedCount = 0;
        return complete(irp, STATUS_SUCCESS, 0);
    default:
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
}

static NTSTATUS WINAPI onControl(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inLength = sp->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* system = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
    (void)device;
    switch (code) {
    case CODE_PATHS_FIRST:
    case CODE_PATHS_NEXT:
        return readList(irp, LIST_PATHS, code == CODE_PATHS_FIRST, outLength);
    case CODE_CONNECTIONS_FIRST:
    case CODE_CONNECTIONS_NEXT:
        return readList(irp, LIST_CONNECTIONS, code == CODE_CONNECTIONS_FIRST, outLength);
    case CODE_BLOCK:
    case CODE_UNBLOCK:
        /* In-direct: the input comes in the system buffer. */
        return blockRequest(irp, code == CODE_BLOCK, system, inLength);
    case CODE_SCRIPT:
        return script(irp, system, inLength, outLength);
    default:
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static void WINAPI onUnload(PDRIVER_OBJECT driver)
{
    IoDeleteSymbolicLink(&linkName);
    if (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS WINAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    PDEVICE_OBJECT device;
    NTSTATUS status;
    (void)registryPath;
    RtlInitUnicodeString(&deviceName, L"\\Device\\KESTROWE_PSWFP");
    RtlInitUnicodeString(&linkName, L"\\DosDevices\\KESTROWE_PSWFP");
    status = IoCreateDevice(driver, 0, &deviceName, 0x12, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = onCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = onCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = onControl;
    driver->DriverUnload = onUnload;
    return STATUS_SUCCESS;
}
