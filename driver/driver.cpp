// The driver object: entry point and clean-up.
#include "qxveltrane.h"

_Use_decl_annotations_ extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    DbgPrint("!!!!!!!!!!!!!!!!!!DUVAD - STARTING!!!!!!!!!!!!!!!!!!!!!\n");
    QX_TRACE(TRACE_DRIVER, DPFLTR_INFO_LEVEL, "DriverEntry");

    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, OnDeviceAdd);
    config.DriverPoolTag = QX_POOL_TAG;

    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.EvtCleanupCallback = OnDriverCleanup;

    NTSTATUS status = WdfDriverCreate(DriverObject, RegistryPath, &attributes, &config, WDF_NO_HANDLE);
    if (!NT_SUCCESS(status)) {
        QX_TRACE(TRACE_DRIVER, DPFLTR_ERROR_LEVEL, "WdfDriverCreate failed %08x", (unsigned)status);
    }
    return status;
}

_Use_decl_annotations_ VOID OnDriverCleanup(WDFOBJECT DriverObject) {
    UNREFERENCED_PARAMETER(DriverObject);
    QX_TRACE(TRACE_DRIVER, DPFLTR_INFO_LEVEL, "OnDriverCleanup");
}
