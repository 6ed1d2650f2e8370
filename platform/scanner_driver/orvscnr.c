/* orvscnr.sys: kernel-mode driver of the virtual scanner. It creates
   \Device\ORVSCNR with the DOS name ORVSCNR and hands every request to the
   scanner model, which checks all lengths. One mutex serialises requests,
   so the model never runs twice at once. */
#include <ntddk.h>

#include "model_entry.h"

/* The compiler may emit these for struct copies; a driver has no C library. */
void *memcpy(void *to, const void *from, size_t n) {
    unsigned char *d = to;
    const unsigned char *s = from;
    while (n--) *d++ = *s++;
    return to;
}
void *memset(void *to, int value, size_t n) {
    unsigned char *d = to;
    while (n--) *d++ = (unsigned char)value;
    return to;
}

static PDEVICE_OBJECT device;
static UNICODE_STRING dosName;
static KMUTEX modelLock;

static uint32_t NowMs(void) {
    LARGE_INTEGER t;
    KeQuerySystemTime(&t);
    return (uint32_t)(t.QuadPart / 10000);
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS WINAPI OnCreateClose(PDEVICE_OBJECT dev, PIRP irp) {
    (void)dev;
    return Complete(irp, STATUS_SUCCESS, 0);
}

/* Where a request's buffers lie depends on the transfer method its code carries. */
static void *OutputBuffer(PIRP irp, ULONG code, ULONG length) {
    if (length == 0) return NULL;
    switch (code & 3) {
    case METHOD_BUFFERED:
        return irp->AssociatedIrp.SystemBuffer;
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT:
        return irp->MdlAddress ? MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority) : NULL;
    default:
        return irp->UserBuffer;
    }
}

static const void *InputBuffer(PIRP irp, PIO_STACK_LOCATION stack, ULONG code, ULONG length) {
    if (length == 0) return NULL;
    if ((code & 3) == METHOD_NEITHER) return stack->Parameters.DeviceIoControl.Type3InputBuffer;
    return irp->AssociatedIrp.SystemBuffer;
}

static NTSTATUS WINAPI OnDeviceControl(PDEVICE_OBJECT dev, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    ModelBuffers buffers;
    uint32_t information = 0, status;
    (void)dev;

    buffers.input = InputBuffer(irp, stack, code, inLength);
    buffers.inputLength = buffers.input ? inLength : 0;
    buffers.output = OutputBuffer(irp, code, outLength);
    buffers.outputLength = buffers.output ? outLength : 0;
    /* A buffered request shares one system buffer for both directions: the
       model reads all input before it writes output. */
    KeWaitForSingleObject(&modelLock, Executive, KernelMode, FALSE, NULL);
    status = ModelDeviceControl(code, &buffers, NowMs(), &information);
    KeReleaseMutex(&modelLock, FALSE);
    return Complete(irp, (NTSTATUS)status, information);
}

static NTSTATUS WINAPI OnRead(PDEVICE_OBJECT dev, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG length = stack->Parameters.Read.Length;
    uint8_t *buffer = irp->AssociatedIrp.SystemBuffer;
    uint32_t information = 0, status;
    (void)dev;

    KeWaitForSingleObject(&modelLock, Executive, KernelMode, FALSE, NULL);
    status = ModelRead(buffer, buffer ? length : 0, NowMs(), &information);
    KeReleaseMutex(&modelLock, FALSE);
    return Complete(irp, (NTSTATUS)status, information);
}

static VOID WINAPI OnUnload(PDRIVER_OBJECT driver) {
    (void)driver;
    IoDeleteSymbolicLink(&dosName);
    if (device) IoDeleteDevice(device);
    device = NULL;
}

NTSTATUS WINAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING deviceName;
    NTSTATUS status;
    (void)registryPath;

    RtlInitUnicodeString(&deviceName, L"\\Device\\ORVSCNR");
    RtlInitUnicodeString(&dosName, L"\\DosDevices\\ORVSCNR");
    KeInitializeMutex(&modelLock, 0);
    ModelReset();

    status = IoCreateDevice(driver, 0, &deviceName, FILE_DEVICE_PARALLEL_PORT, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    device->Flags |= DO_BUFFERED_IO;
    status = IoCreateSymbolicLink(&dosName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        device = NULL;
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = OnCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = OnCreateClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = OnCreateClose;
    driver->MajorFunction[IRP_MJ_READ] = OnRead;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = OnDeviceControl;
    driver->DriverUnload = OnUnload;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
