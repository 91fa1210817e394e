# QXVeltrane.sys: an x64 kernel image for the native subsystem that imports
# ntoskrnl.exe and WDFLDR.SYS only, with no C runtime, entered through our
# loader stub (FxDriverEntry), carrying the version resource, signed with a
# test certificate made here on the spot. Installed with its INF and the
# certificate under driver/ of the dist folder.
find_program(QX_DLLTOOL ${QX_MINGW_PREFIX}-dlltool REQUIRED)
find_program(QX_OPENSSL openssl REQUIRED)
find_program(QX_OSSLSIGNCODE osslsigncode REQUIRED)

set(kernel_flags -ffreestanding -fno-exceptions -fno-rtti -fno-stack-protector
    -fno-threadsafe-statics)

# The compiled sources: the driver as a WDK build compiles it, and the stub.
add_library(qx_veltrane_image OBJECT
    ${CMAKE_CURRENT_SOURCE_DIR}/driver.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/device.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/queue.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bus.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/interrupt.cpp
    ${PROJECT_SOURCE_DIR}/kmdf/stub/fx_stub.cpp
    ${PROJECT_SOURCE_DIR}/kmdf/stub/fx_driver_entry.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/QXVeltrane.rc)
target_include_directories(qx_veltrane_image PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
    ${PROJECT_SOURCE_DIR}/kmdf/include ${PROJECT_SOURCE_DIR})
target_compile_options(qx_veltrane_image PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${kernel_flags}>)
qx_warnings(qx_veltrane_image)

# The framework loader's import library.
set(wdfldr_lib ${CMAKE_CURRENT_BINARY_DIR}/libwdfldr.a)
add_custom_command(
    OUTPUT ${wdfldr_lib}
    COMMAND ${QX_DLLTOOL} -d ${PROJECT_SOURCE_DIR}/kmdf/stub/wdfldr.def -l ${wdfldr_lib}
    DEPENDS ${PROJECT_SOURCE_DIR}/kmdf/stub/wdfldr.def
    COMMENT "Making the WDFLDR.SYS import library"
    VERBATIM)

set(unsigned_sys ${CMAKE_CURRENT_BINARY_DIR}/QXVeltrane.unsigned.sys)
add_custom_command(
    OUTPUT ${unsigned_sys}
    # Linked as an executable image, not a DLL: no export table, and the
    # relocations a kernel image needs kept by --dynamicbase.
    COMMAND ${CMAKE_CXX_COMPILER} -nostdlib -Wl,--subsystem,native
            -Wl,--entry,FxDriverEntry -Wl,--image-base,0x140000000
            -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va
            -Wl,--major-os-version,10 -Wl,--minor-os-version,0
            -Wl,--major-subsystem-version,10 -Wl,--minor-subsystem-version,0
            -Wl,--no-insert-timestamp -s -o ${unsigned_sys}
            $<TARGET_OBJECTS:qx_veltrane_image> -lntoskrnl ${wdfldr_lib}
    DEPENDS qx_veltrane_image $<TARGET_OBJECTS:qx_veltrane_image> ${wdfldr_lib}
    COMMAND_EXPAND_LISTS
    COMMENT "Linking the kernel image QXVeltrane.sys"
    VERBATIM)

# A test-signing certificate of this build tree alone: made once, never in
# the source tree, good for a test machine in test-signing mode and nothing
# else.
set(test_key ${CMAKE_CURRENT_BINARY_DIR}/test-signing.key)
set(test_cert ${CMAKE_CURRENT_BINARY_DIR}/test-signing.pem)
set(test_cer ${CMAKE_CURRENT_BINARY_DIR}/QXVeltrane-test.cer)
add_custom_command(
    OUTPUT ${test_key} ${test_cert} ${test_cer}
    COMMAND ${QX_OPENSSL} req -x509 -newkey rsa:3072 -nodes -sha256 -days 90
            -subj "/CN=Quellix QXVeltrane test signing (not for release)"
            -addext "keyUsage=critical,digitalSignature"
            -addext "extendedKeyUsage=codeSigning"
            -keyout ${test_key} -out ${test_cert}
    COMMAND ${QX_OPENSSL} x509 -in ${test_cert} -outform DER -out ${test_cer}
    COMMENT "Making a test-signing certificate"
    VERBATIM)

set(signed_sys ${CMAKE_CURRENT_BINARY_DIR}/QXVeltrane.sys)
add_custom_command(
    OUTPUT ${signed_sys}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${signed_sys}
    COMMAND ${QX_OSSLSIGNCODE} sign -certs ${test_cert} -key ${test_key} -h sha256
            -n "Veltrane antenna controller driver" -in ${unsigned_sys} -out ${signed_sys}
    DEPENDS ${unsigned_sys} ${test_key} ${test_cert}
    COMMENT "Test-signing QXVeltrane.sys"
    VERBATIM)
add_custom_target(qx_veltrane_sys ALL DEPENDS ${signed_sys} ${test_cer})
set(QX_VELTRANE_SYS ${signed_sys} CACHE INTERNAL "the signed kernel image")

install(FILES ${signed_sys} ${CMAKE_CURRENT_SOURCE_DIR}/QXVeltrane.inf ${test_cer}
        DESTINATION driver)
