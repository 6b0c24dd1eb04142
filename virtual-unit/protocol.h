/* The private interface between the virtual programming unit's bus driver and its
 * user-mode host: the control device and the requests it takes. Shared by the
 * driver (C) and the host (C++). */
#ifndef ORVANTA_VIRTUAL_UNIT_PROTOCOL_H
#define ORVANTA_VIRTUAL_UNIT_PROTOCOL_H

#include <stdint.h>

/* The bus driver creates the control device when it loads; it outlives every child. */
#define VUNIT_CONTROL_DEVICE_NAME L"\\Device\\OrvantaVUnitCtl"
#define VUNIT_CONTROL_LINK_NAME L"\\DosDevices\\OrvantaVUnitCtl"
#define VUNIT_CONTROL_PATH L"\\\\.\\OrvantaVUnitCtl"

/* Bumped whenever a request or record below changes, so that a host never talks to
 * a driver of another build. */
#define VUNIT_PROTOCOL_VERSION 1

/* A report is at least its id byte plus one data byte. The upper bound only sizes
 * the records below; a full-speed unit sends far less. */
#define VUNIT_MIN_REPORT_BYTES 2
#define VUNIT_MAX_REPORT_BYTES 1024
#define VUNIT_MAX_STRING_CHARS 64

/* All requests are METHOD_BUFFERED on FILE_DEVICE_UNKNOWN, functions 0x900 and up. */
#define VUNIT_CTL_CODE(function) (0x00220000u | ((0x900u + (function)) << 2))
/* Out: uint32_t VUNIT_PROTOCOL_VERSION. */
#define IOCTL_VUNIT_GET_VERSION VUNIT_CTL_CODE(0)
/* In: struct vunit_plug. Puts a child on the bus; fails with STATUS_DEVICE_BUSY while
 * one is plugged. */
#define IOCTL_VUNIT_PLUG VUNIT_CTL_CODE(1)
/* Takes the child off the bus: its pending writes fail with STATUS_DEVICE_NOT_CONNECTED
 * and the system removes its HID interface. Succeeds when nothing is plugged. */
#define IOCTL_VUNIT_UNPLUG VUNIT_CTL_CODE(2)
/* In: struct vunit_xfer (header plus input_length bytes). Out, with VUNIT_XFER_WAIT:
 * struct vunit_request. One request per exchange with the unit. */
#define IOCTL_VUNIT_XFER VUNIT_CTL_CODE(3)

struct vunit_plug {
    uint16_t vendor_id;
    uint16_t product_id;
    uint16_t version_number;
    /* Report lengths as HidP_GetCaps announces them, report id byte included. */
    uint16_t input_length;
    uint16_t output_length;
    uint16_t reserved;
    /* NUL-terminated; the instance id of the child is the serial number. */
    uint16_t manufacturer[VUNIT_MAX_STRING_CHARS];
    uint16_t product[VUNIT_MAX_STRING_CHARS];
    uint16_t serial[VUNIT_MAX_STRING_CHARS];
};

/* Flags of struct vunit_xfer, carried out in this order. */
#define VUNIT_XFER_ACK 1u   /* complete the output report `ack_tag` with `ack_status` */
#define VUNIT_XFER_INPUT 2u /* deliver `input` as the child's next input report */
#define VUNIT_XFER_WAIT 4u  /* wait for the next output report and return it */

struct vunit_xfer {
    uint32_t flags;
    uint32_t ack_tag;
    /* An NTSTATUS: 0 completes the write as sent in full; an error fails it. */
    int32_t ack_status;
    uint32_t input_length; /* must equal the child's input report length */
    uint8_t input[VUNIT_MAX_REPORT_BYTES];
};
#define VUNIT_XFER_HEADER_BYTES 16u

/* One output report the program wrote, report id first. The write stays pending until
 * the host acknowledges `tag`, or the child is unplugged. */
struct vunit_request {
    uint32_t tag;
    uint32_t length;
    uint8_t data[VUNIT_MAX_REPORT_BYTES];
};
#define VUNIT_REQUEST_HEADER_BYTES 8u

#endif
