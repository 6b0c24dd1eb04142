/* The virtual programming unit's bus: a root-enumerated bus driver that puts one
 * USB-style child device on the bus when its user-mode host asks, and answers the
 * HID minidriver requests that the pass-through driver forwards to that child. The
 * host receives every output report the program writes and sends back the unit's
 * input reports, through the control device.
 *
 * Report ids, as Wine 8.0's hidclass.sys hands them to the child (the unit declares
 * output report 0x01 and input report 0x02, so every report carries its id byte):
 * - WRITE_REPORT: the HID_XFER_PACKET has reportId 0x01, reportBuffer points at the id
 *   byte of the program's buffer and reportBufferLen is the whole output report length
 *   (OutputReportByteLength, id included). hidclass subtracts one from the byte count
 *   the child reports before WriteFile returns it, for devices with report ids; so the
 *   child reports reportBufferLen + 1, and a WriteFile of OutputReportByteLength bytes
 *   returns that count, as on Windows. (Without report ids hidclass would strip the
 *   id byte instead and subtract nothing: reportBufferLen + 1 again.)
 * - READ_REPORT: the buffer is InputReportByteLength long and must be filled from its
 *   first byte with the report id, then the data; hidclass drops a completion with an
 *   unknown id or fewer bytes than that report's length. ReadFile then returns the
 *   report as completed, id byte first, InputReportByteLength bytes.
 * - SET_OUTPUT_REPORT (HidD_SetOutputReport) carries the same packet; hidclass passes
 *   the child's byte count on unchanged.
 *
 * Removal: hidclass keeps one READ_REPORT pending at the child and waits for its reader
 * thread when the device goes, so the child completes its pending reads on
 * SURPRISE_REMOVAL and REMOVE, and fails reads and writes from then on.
 *
 * WDM rather than KMDF: Wine 8.0 ships no KMDF runtime (wdf01000.sys) to load one with. */
#include <ntddk.h>

#include "../protocol.h"
#include "hid_minidriver.h"

#define POOL_TAG 0x75567652u /* "RvVu" */
/* Input reports the host sent while hidclass had no read outstanding. */
#define INPUT_QUEUE_DEPTH 8
#define REPORT_DESCRIPTOR_MAX_BYTES 64
#define ID_MAX_CHARS 128

enum device_kind { KIND_CONTROL = 1, KIND_BUS, KIND_CHILD };

struct control_ext {
    enum device_kind kind;
};

struct bus_ext {
    enum device_kind kind;
    DEVICE_OBJECT* lower;
};

struct child_ext {
    enum device_kind kind;
    DEVICE_OBJECT* self;
    struct vunit_plug config;
    UCHAR report_descriptor[REPORT_DESCRIPTOR_MAX_BYTES];
    USHORT report_descriptor_length;
    BOOLEAN reported;  /* has been listed in BusRelations: the system knows it */
    BOOLEAN unplugged; /* the host took it off the bus */
    BOOLEAN removed;   /* SURPRISE_REMOVAL or REMOVE seen */
    LIST_ENTRY reads;  /* hidclass's pending READ_REPORTs */
    LIST_ENTRY writes; /* output reports waiting for the host's acknowledgement */
    ULONG input_first;
    ULONG input_count;
    UCHAR inputs[INPUT_QUEUE_DEPTH][VUNIT_MAX_REPORT_BYTES];
};

/* One bus per driver: the INF installs a single root device. Everything below is
 * guarded by `lock`; IRPs are completed after it is released. */
static struct {
    KSPIN_LOCK lock;
    DRIVER_OBJECT* driver;
    DEVICE_OBJECT* control;
    DEVICE_OBJECT* bus_pdo;
    DEVICE_OBJECT* bus_fdo;
    DEVICE_OBJECT* child;   /* plugged in, or null */
    DEVICE_OBJECT* leaving; /* unplugged, its removal by the system not finished */
    LONG hosts;             /* open handles on the control device */
    LIST_ENTRY waiters;     /* XFER requests waiting for an output report */
    ULONG next_tag;
} bus;

/* Per-IRP bookkeeping while a write waits in a child's queue. */
#define WRITE_TAG(irp) ((irp)->Tail.Overlay.DriverContext[0])
#define WRITE_FETCHED(irp) ((irp)->Tail.Overlay.DriverContext[1])
#define WRITE_IS_WRITE_REPORT(irp) ((irp)->Tail.Overlay.DriverContext[2])

static enum device_kind kind_of(DEVICE_OBJECT* device) {
    return *(enum device_kind*)device->DeviceExtension;
}

static void complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

/* IRPs collected under the lock and completed after it, each with its own status. */
static void complete_list(LIST_ENTRY* list) {
    while (!IsListEmpty(list)) {
        LIST_ENTRY* entry = RemoveHeadList(list);
        IRP* irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

static void move_all(LIST_ENTRY* from, LIST_ENTRY* to, NTSTATUS status) {
    while (!IsListEmpty(from)) {
        LIST_ENTRY* entry = RemoveHeadList(from);
        IRP* irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        irp->IoStatus.Status = status;
        irp->IoStatus.Information = 0;
        InsertTailList(to, entry);
    }
}

/* ---- Report descriptor ---------------------------------------------------------- */

/* A vendor-defined application collection with input report 0x02 and output report
 * 0x01, one byte per field; the report counts are filled in from the lengths. */
static const UCHAR report_descriptor_template[] = {
    0x06, 0x00, 0xFF, /* usage page FF00 (vendor-defined) */
    0x09, 0x01,       /* usage 1 */
    0xA1, 0x01,       /* collection (application) */
    0x15, 0x00,       /* logical minimum 0 */
    0x26, 0xFF, 0x00, /* logical maximum 255 */
    0x75, 0x08,       /* report size 8 bits */
    0x85, 0x02,       /* report id 2 */
    0x96, 0x00, 0x00, /* report count: the input report's data bytes */
    0x09, 0x01,       /* usage 1 */
    0x81, 0x02,       /* input (data, variable, absolute) */
    0x85, 0x01,       /* report id 1 */
    0x96, 0x00, 0x00, /* report count: the output report's data bytes */
    0x09, 0x01,       /* usage 1 */
    0x91, 0x02,       /* output (data, variable, absolute) */
    0xC0,             /* end collection */
};
#define INPUT_COUNT_OFFSET 17
#define OUTPUT_COUNT_OFFSET 26

/* Each length counts the report id byte; the report count does not. */
static USHORT build_report_descriptor(UCHAR* out, USHORT input_length, USHORT output_length) {
    const USHORT input_count = (USHORT)(input_length - 1);
    const USHORT output_count = (USHORT)(output_length - 1);
    RtlCopyMemory(out, report_descriptor_template, sizeof report_descriptor_template);
    out[INPUT_COUNT_OFFSET] = (UCHAR)input_count;
    out[INPUT_COUNT_OFFSET + 1] = (UCHAR)(input_count >> 8);
    out[OUTPUT_COUNT_OFFSET] = (UCHAR)output_count;
    out[OUTPUT_COUNT_OFFSET + 1] = (UCHAR)(output_count >> 8);
    return sizeof report_descriptor_template;
}

/* ---- Child identity ------------------------------------------------------------- */

static void append(WCHAR** at, const WCHAR* text) {
    while (*text) *(*at)++ = *text++;
}

static void append_hex4(WCHAR** at, USHORT value) {
    static const WCHAR digits[] = L"0123456789ABCDEF";
    int shift;
    for (shift = 12; shift >= 0; shift -= 4) *(*at)++ = digits[(value >> shift) & 0xF];
}

static void append_usb_id(WCHAR** at, const struct vunit_plug* config) {
    append(at, L"USB\\VID_");
    append_hex4(at, config->vendor_id);
    append(at, L"&PID_");
    append_hex4(at, config->product_id);
}

/* The text of IRP_MN_QUERY_ID: single strings NUL-terminated, lists doubly. The
 * compatible ids are those of a USB HID device, then the one that the INF matches for
 * units with ids it does not list. */
static NTSTATUS query_id(struct child_ext* child, BUS_QUERY_ID_TYPE type, WCHAR** result) {
    WCHAR* text = ExAllocatePoolWithTag(PagedPool, ID_MAX_CHARS * sizeof(WCHAR), POOL_TAG);
    WCHAR* at = text;
    const WCHAR* serial = (const WCHAR*)child->config.serial;

    if (!text) return STATUS_INSUFFICIENT_RESOURCES;
    switch (type) {
    case BusQueryDeviceID:
        append_usb_id(&at, &child->config);
        break;
    case BusQueryHardwareIDs:
        append_usb_id(&at, &child->config);
        append(&at, L"&REV_");
        append_hex4(&at, child->config.version_number);
        *at++ = 0;
        append_usb_id(&at, &child->config);
        *at++ = 0;
        break;
    case BusQueryCompatibleIDs:
        append(&at, L"USB\\Class_03&SubClass_00&Prot_00");
        *at++ = 0;
        append(&at, L"USB\\Class_03");
        *at++ = 0;
        append(&at, L"ORVANTAVU\\HID");
        *at++ = 0;
        break;
    case BusQueryInstanceID:
        append(&at, serial);
        break;
    default:
        ExFreePoolWithTag(text, POOL_TAG);
        return STATUS_NOT_SUPPORTED;
    }
    *at = 0;
    *result = text;
    return STATUS_SUCCESS;
}

static const uint16_t* child_string(struct child_ext* child, ULONG id) {
    switch (id) {
    case 1:
    case HID_STRING_ID_IMANUFACTURER:
        return child->config.manufacturer;
    case 2:
    case HID_STRING_ID_IPRODUCT:
        return child->config.product;
    case 3:
    case HID_STRING_ID_ISERIALNUMBER:
        return child->config.serial;
    default:
        return NULL;
    }
}

/* ---- Queues ----------------------------------------------------------------------- */

static void NTAPI cancel_waiter(DEVICE_OBJECT* device, IRP* irp) {
    KIRQL irql;
    (void)device;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&bus.lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&bus.lock, irql);
    complete(irp, STATUS_CANCELLED, 0);
}

/* Under the lock. A waiter whose cancel routine is already running is left to it. */
static IRP* pop_waiter(void) {
    while (!IsListEmpty(&bus.waiters)) {
        LIST_ENTRY* entry = RemoveHeadList(&bus.waiters);
        IRP* irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, NULL)) return irp;
        InitializeListHead(entry);
    }
    return NULL;
}

/* Under the lock: the oldest output report of the plugged child that the host has not
 * been given yet. */
static IRP* next_unfetched_write(void) {
    struct child_ext* child;
    LIST_ENTRY* entry;
    if (!bus.child) return NULL;
    child = bus.child->DeviceExtension;
    for (entry = child->writes.Flink; entry != &child->writes; entry = entry->Flink) {
        IRP* irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if (!WRITE_FETCHED(irp)) return irp;
    }
    return NULL;
}

/* Under the lock: copies an output report into an XFER's buffer, marks it fetched and
 * returns the XFER's byte count. */
static ULONG hand_over(IRP* write, IRP* waiter) {
    const HID_XFER_PACKET* packet = write->UserBuffer;
    struct vunit_request* request = waiter->AssociatedIrp.SystemBuffer;
    request->tag = (uint32_t)(ULONG_PTR)WRITE_TAG(write);
    request->length = packet->reportBufferLen;
    RtlCopyMemory(request->data, packet->reportBuffer, packet->reportBufferLen);
    WRITE_FETCHED(write) = (PVOID)1;
    return VUNIT_REQUEST_HEADER_BYTES + packet->reportBufferLen;
}

/* Under the lock: takes the plugged child off the bus. Its writes fail at once; its
 * reads stay pending until the system's removal reaches it. Returns a child that the
 * system never saw, for the caller to delete once the lock is released. */
static DEVICE_OBJECT* unplug_child(LIST_ENTRY* done) {
    DEVICE_OBJECT* device = bus.child;
    struct child_ext* child;
    if (!device) return NULL;
    child = device->DeviceExtension;
    child->unplugged = TRUE;
    child->input_count = 0;
    move_all(&child->writes, done, STATUS_DEVICE_NOT_CONNECTED);
    bus.child = NULL;
    if (child->reported) {
        bus.leaving = device;
        return NULL;
    }
    return device;
}

static void delete_unseen(DEVICE_OBJECT* device) {
    if (device) IoDeleteDevice(device);
}

static void invalidate_bus(void) {
    if (bus.bus_pdo) IoInvalidateDeviceRelations(bus.bus_pdo, BusRelations);
}

/* ---- Child device: HID minidriver requests ----------------------------------------- */

static NTSTATUS queue_write(struct child_ext* child, IRP* irp, BOOLEAN is_write_report) {
    const HID_XFER_PACKET* packet = irp->UserBuffer;
    IRP* waiter = NULL;
    KIRQL irql;

    if (!packet || !packet->reportBuffer ||
        packet->reportBufferLen != child->config.output_length) {
        complete(irp, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    KeAcquireSpinLock(&bus.lock, &irql);
    if (child->unplugged || child->removed || bus.hosts == 0) {
        KeReleaseSpinLock(&bus.lock, irql);
        complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    WRITE_TAG(irp) = (PVOID)(ULONG_PTR)++bus.next_tag;
    WRITE_FETCHED(irp) = NULL;
    WRITE_IS_WRITE_REPORT(irp) = is_write_report ? (PVOID)1 : NULL;
    IoMarkIrpPending(irp);
    InsertTailList(&child->writes, &irp->Tail.Overlay.ListEntry);
    if (next_unfetched_write() == irp && (waiter = pop_waiter()) != NULL) {
        waiter->IoStatus.Information = hand_over(irp, waiter);
        waiter->IoStatus.Status = STATUS_SUCCESS;
    }
    KeReleaseSpinLock(&bus.lock, irql);
    if (waiter) IoCompleteRequest(waiter, IO_NO_INCREMENT);
    return STATUS_PENDING;
}

static NTSTATUS read_report(struct child_ext* child, IRP* irp, ULONG length) {
    KIRQL irql;
    ULONG report_length = child->config.input_length;

    if (!irp->UserBuffer || length < report_length) {
        complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        return STATUS_BUFFER_TOO_SMALL;
    }
    KeAcquireSpinLock(&bus.lock, &irql);
    if (child->removed) {
        KeReleaseSpinLock(&bus.lock, irql);
        complete(irp, STATUS_DELETE_PENDING, 0);
        return STATUS_DELETE_PENDING;
    }
    if (child->input_count) {
        RtlCopyMemory(irp->UserBuffer, child->inputs[child->input_first], report_length);
        child->input_first = (child->input_first + 1) % INPUT_QUEUE_DEPTH;
        child->input_count--;
        KeReleaseSpinLock(&bus.lock, irql);
        complete(irp, STATUS_SUCCESS, report_length);
        return STATUS_SUCCESS;
    }
    /* hidclass never cancels its reads; removal completes them. */
    IoMarkIrpPending(irp);
    InsertTailList(&child->reads, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&bus.lock, irql);
    return STATUS_PENDING;
}

static NTSTATUS copy_out(IRP* irp, ULONG length, const void* data, ULONG size) {
    if (!irp->UserBuffer || length < size) {
        complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlCopyMemory(irp->UserBuffer, data, size);
    complete(irp, STATUS_SUCCESS, size);
    return STATUS_SUCCESS;
}

static NTSTATUS child_internal_ioctl(DEVICE_OBJECT* device, IRP* irp) {
    struct child_ext* child = device->DeviceExtension;
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG length = stack->Parameters.DeviceIoControl.OutputBufferLength;

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
        HID_DESCRIPTOR descriptor;
        RtlZeroMemory(&descriptor, sizeof descriptor);
        descriptor.bLength = sizeof descriptor;
        descriptor.bDescriptorType = HID_HID_DESCRIPTOR_TYPE;
        descriptor.bcdHID = 0x0111;
        descriptor.bNumDescriptors = 1;
        descriptor.DescriptorList[0].bReportType = HID_REPORT_DESCRIPTOR_TYPE;
        descriptor.DescriptorList[0].wReportLength = child->report_descriptor_length;
        return copy_out(irp, length, &descriptor, sizeof descriptor);
    }
    case IOCTL_HID_GET_REPORT_DESCRIPTOR:
        return copy_out(irp, length, child->report_descriptor, child->report_descriptor_length);
    case IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
        HID_DEVICE_ATTRIBUTES attributes;
        RtlZeroMemory(&attributes, sizeof attributes);
        attributes.Size = sizeof attributes;
        attributes.VendorID = child->config.vendor_id;
        attributes.ProductID = child->config.product_id;
        attributes.VersionNumber = child->config.version_number;
        return copy_out(irp, length, &attributes, sizeof attributes);
    }
    case IOCTL_HID_GET_STRING: {
        const ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer;
        const uint16_t* text = child_string(child, id & 0xFFFF);
        ULONG chars = 0;
        if (!text) {
            complete(irp, STATUS_INVALID_PARAMETER, 0);
            return STATUS_INVALID_PARAMETER;
        }
        while (text[chars]) chars++;
        return copy_out(irp, length, text, (chars + 1) * sizeof(WCHAR));
    }
    case IOCTL_HID_ACTIVATE_DEVICE:
    case IOCTL_HID_DEACTIVATE_DEVICE:
        complete(irp, STATUS_SUCCESS, 0);
        return STATUS_SUCCESS;
    case IOCTL_HID_READ_REPORT:
        return read_report(child, irp, length);
    case IOCTL_HID_WRITE_REPORT:
        return queue_write(child, irp, TRUE);
    case IOCTL_HID_SET_OUTPUT_REPORT:
        return queue_write(child, irp, FALSE);
    default:
        /* Feature and get-input reports: the unit has none. */
        complete(irp, STATUS_NOT_SUPPORTED, 0);
        return STATUS_NOT_SUPPORTED;
    }
}

/* ---- Child device: plug and play ---------------------------------------------------- */

/* The system is taking the child away: fail whatever hidclass still waits for. */
static void child_gone(struct child_ext* child) {
    LIST_ENTRY done;
    KIRQL irql;
    InitializeListHead(&done);
    KeAcquireSpinLock(&bus.lock, &irql);
    child->removed = TRUE;
    move_all(&child->reads, &done, STATUS_DELETE_PENDING);
    move_all(&child->writes, &done, STATUS_DEVICE_NOT_CONNECTED);
    KeReleaseSpinLock(&bus.lock, irql);
    complete_list(&done);
}

/* IRP_MN_REMOVE_DEVICE: the child leaves the bus's records and is deleted; a child
 * plugged in meanwhile is reported now. */
static NTSTATUS child_removed(DEVICE_OBJECT* device, IRP* irp) {
    struct child_ext* child = device->DeviceExtension;
    BOOLEAN report_next = FALSE;
    KIRQL irql;
    child_gone(child);
    KeAcquireSpinLock(&bus.lock, &irql);
    if (bus.leaving == device) {
        bus.leaving = NULL;
        /* A child plugged in meanwhile waited for this one to go, so that its
         * interface is not registered while the old one is being removed. */
        report_next = bus.child != NULL;
    } else if (bus.child == device) {
        /* Removed while still plugged (the bus itself is going). */
        child->unplugged = TRUE;
        bus.child = NULL;
    }
    KeReleaseSpinLock(&bus.lock, irql);
    complete(irp, STATUS_SUCCESS, 0);
    IoDeleteDevice(device);
    if (report_next) invalidate_bus();
    return STATUS_SUCCESS;
}

static NTSTATUS child_pnp(DEVICE_OBJECT* device, IRP* irp) {
    struct child_ext* child = device->DeviceExtension;
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = irp->IoStatus.Status;

    switch (stack->MinorFunction) {
    case IRP_MN_QUERY_ID: {
        WCHAR* text = NULL;
        status = query_id(child, stack->Parameters.QueryId.IdType, &text);
        if (status == STATUS_SUCCESS)
            irp->IoStatus.Information = (ULONG_PTR)text;
        else if (status == STATUS_NOT_SUPPORTED)
            status = irp->IoStatus.Status;
        break;
    }
    case IRP_MN_QUERY_CAPABILITIES: {
        DEVICE_CAPABILITIES* caps = stack->Parameters.DeviceCapabilities.Capabilities;
        caps->Removable = 1;
        caps->SurpriseRemovalOK = 1;
        caps->UniqueID = 1;
        /* Without success here the system never starts the device. */
        status = STATUS_SUCCESS;
        break;
    }
    case IRP_MN_START_DEVICE:
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_SURPRISE_REMOVAL:
        child_gone(child);
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE:
        return child_removed(device, irp);
    default:
        /* Leave the status and whatever a driver above filled in, as for the bus
         * relations that hidclass reports through this device. */
        break;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* ---- Bus device --------------------------------------------------------------------- */

static NTSTATUS bus_relations(IRP* irp) {
    DEVICE_RELATIONS* relations;
    KIRQL irql;

    relations = ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), POOL_TAG);
    if (!relations) return STATUS_INSUFFICIENT_RESOURCES;
    relations->Count = 0;
    KeAcquireSpinLock(&bus.lock, &irql);
    /* A new child is listed only once the one before it has gone. */
    if (bus.child && !bus.leaving) {
        struct child_ext* child = bus.child->DeviceExtension;
        child->reported = TRUE;
        relations->Objects[0] = bus.child;
        relations->Count = 1;
        ObReferenceObject(bus.child);
    }
    KeReleaseSpinLock(&bus.lock, irql);
    irp->IoStatus.Information = (ULONG_PTR)relations;
    return STATUS_SUCCESS;
}

static NTSTATUS bus_pnp(DEVICE_OBJECT* device, IRP* irp) {
    struct bus_ext* ext = device->DeviceExtension;
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    DEVICE_OBJECT* lower = ext->lower;
    NTSTATUS status;
    KIRQL irql;

    switch (stack->MinorFunction) {
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (stack->Parameters.QueryDeviceRelations.Type != BusRelations) break;
        status = bus_relations(irp);
        if (status != STATUS_SUCCESS) {
            complete(irp, status, 0);
            return status;
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_START_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        LIST_ENTRY done;
        DEVICE_OBJECT* unseen;
        InitializeListHead(&done);
        KeAcquireSpinLock(&bus.lock, &irql);
        unseen = unplug_child(&done);
        bus.bus_fdo = NULL;
        bus.bus_pdo = NULL;
        KeReleaseSpinLock(&bus.lock, irql);
        complete_list(&done);
        delete_unseen(unseen);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(device);
        return status;
    }
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

static NTSTATUS NTAPI add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    DEVICE_OBJECT* fdo;
    struct bus_ext* ext;
    NTSTATUS status;
    KIRQL irql;

    if (bus.bus_fdo) return STATUS_DEVICE_ALREADY_ATTACHED;
    status = IoCreateDevice(driver, sizeof(struct bus_ext), NULL, FILE_DEVICE_BUS_EXTENDER, 0,
                            FALSE, &fdo);
    if (status != STATUS_SUCCESS) return status;
    ext = fdo->DeviceExtension;
    ext->kind = KIND_BUS;
    ext->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    KeAcquireSpinLock(&bus.lock, &irql);
    bus.bus_fdo = fdo;
    bus.bus_pdo = pdo;
    KeReleaseSpinLock(&bus.lock, irql);
    return STATUS_SUCCESS;
}

/* ---- Control device ----------------------------------------------------------------- */

static NTSTATUS plug(IRP* irp, ULONG in_length) {
    struct vunit_plug config;
    struct child_ext* child;
    DEVICE_OBJECT* device;
    NTSTATUS status;
    BOOLEAN report = FALSE;
    KIRQL irql;

    if (in_length < sizeof config) return STATUS_INVALID_PARAMETER;
    RtlCopyMemory(&config, irp->AssociatedIrp.SystemBuffer, sizeof config);
    if (config.input_length < VUNIT_MIN_REPORT_BYTES ||
        config.input_length > VUNIT_MAX_REPORT_BYTES ||
        config.output_length < VUNIT_MIN_REPORT_BYTES ||
        config.output_length > VUNIT_MAX_REPORT_BYTES || !config.serial[0])
        return STATUS_INVALID_PARAMETER;
    config.manufacturer[VUNIT_MAX_STRING_CHARS - 1] = 0;
    config.product[VUNIT_MAX_STRING_CHARS - 1] = 0;
    config.serial[VUNIT_MAX_STRING_CHARS - 1] = 0;

    status = IoCreateDevice(bus.driver, sizeof(struct child_ext), NULL, FILE_DEVICE_UNKNOWN,
                            FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &device);
    if (status != STATUS_SUCCESS) return status;
    child = device->DeviceExtension;
    RtlZeroMemory(child, sizeof *child);
    child->kind = KIND_CHILD;
    child->self = device;
    child->config = config;
    child->report_descriptor_length = build_report_descriptor(
        child->report_descriptor, config.input_length, config.output_length);
    InitializeListHead(&child->reads);
    InitializeListHead(&child->writes);
    device->Flags |= DO_BUS_ENUMERATED_DEVICE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;

    KeAcquireSpinLock(&bus.lock, &irql);
    if (bus.child || !bus.bus_pdo) {
        status = bus.child ? STATUS_DEVICE_BUSY : STATUS_NO_SUCH_DEVICE;
    } else {
        bus.child = device;
        report = !bus.leaving;
    }
    KeReleaseSpinLock(&bus.lock, irql);
    if (status != STATUS_SUCCESS) {
        IoDeleteDevice(device);
        return status;
    }
    if (report) invalidate_bus();
    return STATUS_SUCCESS;
}

static NTSTATUS unplug(void) {
    LIST_ENTRY done;
    BOOLEAN was_plugged;
    KIRQL irql;
    DEVICE_OBJECT* unseen;
    InitializeListHead(&done);
    KeAcquireSpinLock(&bus.lock, &irql);
    was_plugged = bus.child != NULL;
    unseen = unplug_child(&done);
    KeReleaseSpinLock(&bus.lock, irql);
    complete_list(&done);
    delete_unseen(unseen);
    if (was_plugged) invalidate_bus();
    return STATUS_SUCCESS;
}

/* Under the lock: finishes the child's write that the host acknowledges, with the
 * host's status; a write is finished either way, and "pending" from the host means
 * failed. */
static void acknowledge_write(struct child_ext* child, const struct vunit_xfer* in,
                              LIST_ENTRY* done) {
    LIST_ENTRY* entry;
    for (entry = child->writes.Flink; entry != &child->writes; entry = entry->Flink) {
        IRP* acked = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        const HID_XFER_PACKET* packet = acked->UserBuffer;
        if ((uint32_t)(ULONG_PTR)WRITE_TAG(acked) != in->ack_tag) continue;
        RemoveEntryList(entry);
        acked->IoStatus.Status =
            in->ack_status == STATUS_PENDING ? STATUS_UNSUCCESSFUL : in->ack_status;
        acked->IoStatus.Information = 0;
        if (in->ack_status == STATUS_SUCCESS)
            acked->IoStatus.Information =
                packet->reportBufferLen + (WRITE_IS_WRITE_REPORT(acked) ? 1 : 0);
        InsertTailList(done, entry);
        return;
    }
}

/* Under the lock: hands an input report to hidclass's pending read, or keeps it until
 * the next read comes. A report for a child that is gone is lost, as on a pulled
 * cable. */
static void deliver_input(struct child_ext* child, const struct vunit_xfer* in,
                          LIST_ENTRY* done) {
    ULONG slot;
    if (child->removed) return;
    if (!IsListEmpty(&child->reads)) {
        IRP* reader = CONTAINING_RECORD(RemoveHeadList(&child->reads), IRP, Tail.Overlay.ListEntry);
        RtlCopyMemory(reader->UserBuffer, in->input, in->input_length);
        reader->IoStatus.Status = STATUS_SUCCESS;
        reader->IoStatus.Information = in->input_length;
        InsertTailList(done, &reader->Tail.Overlay.ListEntry);
        return;
    }
    if (child->input_count == INPUT_QUEUE_DEPTH) {
        /* The oldest report gives way, as in hidclass's own ring. */
        child->input_first = (child->input_first + 1) % INPUT_QUEUE_DEPTH;
        child->input_count--;
    }
    slot = (child->input_first + child->input_count) % INPUT_QUEUE_DEPTH;
    RtlCopyMemory(child->inputs[slot], in->input, in->input_length);
    child->input_count++;
}

/* Under the lock, which it releases: hands the host the next output report, or keeps
 * its request waiting for one (STATUS_PENDING; it is completed later). */
static NTSTATUS wait_for_output(IRP* irp, KIRQL irql, ULONG_PTR* information) {
    IRP* write = next_unfetched_write();
    if (write) {
        *information = hand_over(write, irp);
        KeReleaseSpinLock(&bus.lock, irql);
        return STATUS_SUCCESS;
    }
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, cancel_waiter);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
        KeReleaseSpinLock(&bus.lock, irql);
        complete(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    InsertTailList(&bus.waiters, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&bus.lock, irql);
    return STATUS_PENDING;
}

/* The host's one request: acknowledge a write, deliver an input report, wait for the
 * next output report, each when its flag asks. Returns STATUS_PENDING when the request
 * waits (it is then completed later); otherwise the caller completes it with the
 * status and `information`. */
static NTSTATUS xfer(IRP* irp, ULONG in_length, ULONG out_length, ULONG_PTR* information) {
    const struct vunit_xfer* in = irp->AssociatedIrp.SystemBuffer;
    NTSTATUS status = STATUS_SUCCESS;
    uint32_t flags;
    LIST_ENTRY done;
    KIRQL irql;
    struct child_ext* child;

    if (in_length < VUNIT_XFER_HEADER_BYTES) return STATUS_INVALID_PARAMETER;
    flags = in->flags;
    if ((flags & VUNIT_XFER_INPUT) && (in->input_length > VUNIT_MAX_REPORT_BYTES ||
                                       in_length < VUNIT_XFER_HEADER_BYTES + in->input_length))
        return STATUS_INVALID_PARAMETER;
    if ((flags & VUNIT_XFER_WAIT) && out_length < sizeof(struct vunit_request))
        return STATUS_BUFFER_TOO_SMALL;

    InitializeListHead(&done);
    KeAcquireSpinLock(&bus.lock, &irql);
    child = bus.child ? bus.child->DeviceExtension : NULL;
    if ((flags & VUNIT_XFER_INPUT) && child && in->input_length != child->config.input_length) {
        KeReleaseSpinLock(&bus.lock, irql);
        return STATUS_INVALID_PARAMETER;
    }
    if ((flags & VUNIT_XFER_ACK) && child) acknowledge_write(child, in, &done);
    if ((flags & VUNIT_XFER_INPUT) && child) deliver_input(child, in, &done);
    if (flags & VUNIT_XFER_WAIT)
        status = wait_for_output(irp, irql, information);
    else
        KeReleaseSpinLock(&bus.lock, irql);
    complete_list(&done);
    return status;
}

/* Under the lock: moves the waiters of one file (or all) to `done`, cancelled. */
static void drop_waiters(FILE_OBJECT* file, LIST_ENTRY* done) {
    LIST_ENTRY* entry = bus.waiters.Flink;
    while (entry != &bus.waiters) {
        IRP* irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        LIST_ENTRY* next = entry->Flink;
        if ((!file || IoGetCurrentIrpStackLocation(irp)->FileObject == file) &&
            IoSetCancelRoutine(irp, NULL)) {
            RemoveEntryList(entry);
            irp->IoStatus.Status = STATUS_CANCELLED;
            irp->IoStatus.Information = 0;
            InsertTailList(done, entry);
        }
        entry = next;
    }
}

static NTSTATUS control_ioctl(IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG in_length = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG out_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    NTSTATUS status;
    ULONG_PTR information = 0;

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_VUNIT_GET_VERSION:
        if (out_length < sizeof(uint32_t)) {
            status = STATUS_BUFFER_TOO_SMALL;
            break;
        }
        *(uint32_t*)irp->AssociatedIrp.SystemBuffer = VUNIT_PROTOCOL_VERSION;
        information = sizeof(uint32_t);
        status = STATUS_SUCCESS;
        break;
    case IOCTL_VUNIT_PLUG:
        status = plug(irp, in_length);
        break;
    case IOCTL_VUNIT_UNPLUG:
        status = unplug();
        break;
    case IOCTL_VUNIT_XFER:
        status = xfer(irp, in_length, out_length, &information);
        if (status == STATUS_PENDING) return status;
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    complete(irp, status, information);
    return status;
}

/* ---- Dispatch ----------------------------------------------------------------------- */

static NTSTATUS NTAPI dispatch_create(DEVICE_OBJECT* device, IRP* irp) {
    KIRQL irql;
    if (kind_of(device) != KIND_CONTROL) {
        complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    KeAcquireSpinLock(&bus.lock, &irql);
    bus.hosts++;
    KeReleaseSpinLock(&bus.lock, irql);
    complete(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI dispatch_cleanup(DEVICE_OBJECT* device, IRP* irp) {
    LIST_ENTRY done;
    KIRQL irql;
    InitializeListHead(&done);
    if (kind_of(device) == KIND_CONTROL) {
        KeAcquireSpinLock(&bus.lock, &irql);
        drop_waiters(IoGetCurrentIrpStackLocation(irp)->FileObject, &done);
        KeReleaseSpinLock(&bus.lock, irql);
        complete_list(&done);
    }
    complete(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

/* The unit exists only while a host answers for it: when the last handle on the control
 * device closes (the host ended, however it ended), the child leaves the bus. */
static NTSTATUS NTAPI dispatch_close(DEVICE_OBJECT* device, IRP* irp) {
    LIST_ENTRY done;
    DEVICE_OBJECT* unseen = NULL;
    BOOLEAN was_plugged = FALSE;
    KIRQL irql;
    InitializeListHead(&done);
    if (kind_of(device) == KIND_CONTROL) {
        KeAcquireSpinLock(&bus.lock, &irql);
        drop_waiters(IoGetCurrentIrpStackLocation(irp)->FileObject, &done);
        if (bus.hosts > 0 && --bus.hosts == 0) {
            was_plugged = bus.child != NULL;
            unseen = unplug_child(&done);
        }
        KeReleaseSpinLock(&bus.lock, irql);
        complete_list(&done);
        delete_unseen(unseen);
        if (was_plugged) invalidate_bus();
    }
    complete(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI dispatch_device_control(DEVICE_OBJECT* device, IRP* irp) {
    if (kind_of(device) == KIND_CONTROL) return control_ioctl(irp);
    complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    return STATUS_INVALID_DEVICE_REQUEST;
}

static NTSTATUS NTAPI dispatch_internal_device_control(DEVICE_OBJECT* device, IRP* irp) {
    if (kind_of(device) == KIND_CHILD) return child_internal_ioctl(device, irp);
    if (kind_of(device) == KIND_BUS) {
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(((struct bus_ext*)device->DeviceExtension)->lower, irp);
    }
    complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    return STATUS_INVALID_DEVICE_REQUEST;
}

static NTSTATUS NTAPI dispatch_pnp(DEVICE_OBJECT* device, IRP* irp) {
    switch (kind_of(device)) {
    case KIND_CHILD:
        return child_pnp(device, irp);
    case KIND_BUS:
        return bus_pnp(device, irp);
    default: {
        NTSTATUS status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    }
}

static void NTAPI driver_unload(DRIVER_OBJECT* driver) {
    UNICODE_STRING link;
    (void)driver;
    RtlInitUnicodeString(&link, VUNIT_CONTROL_LINK_NAME);
    IoDeleteSymbolicLink(&link);
    if (bus.control) IoDeleteDevice(bus.control);
    bus.control = NULL;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry_path) {
    UNICODE_STRING name;
    UNICODE_STRING link;
    struct control_ext* ext;
    NTSTATUS status;
    (void)registry_path;

    KeInitializeSpinLock(&bus.lock);
    InitializeListHead(&bus.waiters);
    bus.driver = driver;

    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_cleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_close;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_device_control;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = dispatch_internal_device_control;
    driver->MajorFunction[IRP_MJ_PNP] = dispatch_pnp;
    driver->DriverExtension->AddDevice = add_device;
    driver->DriverUnload = driver_unload;

    RtlInitUnicodeString(&name, VUNIT_CONTROL_DEVICE_NAME);
    status = IoCreateDevice(driver, sizeof(struct control_ext), &name, FILE_DEVICE_UNKNOWN, 0,
                            FALSE, &bus.control);
    if (status != STATUS_SUCCESS) return status;
    ext = bus.control->DeviceExtension;
    ext->kind = KIND_CONTROL;
    bus.control->Flags |= DO_BUFFERED_IO;
    bus.control->Flags &= ~DO_DEVICE_INITIALIZING;

    RtlInitUnicodeString(&link, VUNIT_CONTROL_LINK_NAME);
    status = IoCreateSymbolicLink(&link, &name);
    if (status != STATUS_SUCCESS) {
        IoDeleteDevice(bus.control);
        bus.control = NULL;
    }
    return status;
}
