// The loader stub of a KMDF client image: what runs before the driver's own
// DriverEntry. A WDK build links the WDK's stub instead; the MinGW image and
// the host build link this one.
#pragma once

#include <wdfldr.h>

// Binds the image to the framework through WDFLDR.SYS, runs the driver's
// entry point, unbinds when that fails, and puts its own unload routine in
// the driver object when the framework asks for it, so that the unload
// unbinds too. Returns the status of the first step that failed.
NTSTATUS FxDriverEntryWorker(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath,
                             PDRIVER_INITIALIZE ClientEntry);

// The entry point of an image whose driver is DriverEntry (fx_driver_entry.cpp).
extern "C" DRIVER_INITIALIZE FxDriverEntry;
