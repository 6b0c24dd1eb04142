/* The HID minidriver of the virtual programming unit: it registers the unit's device
 * with hidclass.sys and passes every request hidclass makes down to the bus's child
 * device, which answers them as a USB HID device would. */
#include "hid_minidriver.h"

static NTSTATUS NTAPI pass_down(DEVICE_OBJECT* device, IRP* irp) {
    HID_DEVICE_EXTENSION* ext = device->DeviceExtension;
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->NextDeviceObject, irp);
}

/* hidclass has already created the device and attached it above the child. */
static NTSTATUS NTAPI add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* device) {
    (void)driver;
    (void)device;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry_path) {
    HID_MINIDRIVER_REGISTRATION registration;

    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = pass_down;
    driver->MajorFunction[IRP_MJ_PNP] = pass_down;
    driver->MajorFunction[IRP_MJ_POWER] = pass_down;
    driver->DriverExtension->AddDevice = add_device;

    RtlZeroMemory(&registration, sizeof registration);
    registration.Revision = HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registry_path;
    registration.DeviceExtensionSize = 0;
    /* The child completes reads when the unit sends a report: no polling. */
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
