#!/usr/bin/env bash
# The event sources of the MSI: after installing it, both sources are
# registered under the Application log and point at the installed programs,
# whose message tables give the texts Event Viewer shows for the ids the
# programs report; uninstalling removes the keys again.
source "$(dirname "$0")/../lib.sh"
export LANG=C.UTF-8
wine_setup
out=$QX_WORK/out.txt
product='{5B1D3723-D5AC-4B68-B491-A2562DE8663C}'
app='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application'
probe="$QX_DIST/tests/wine/events/message_probe.exe"
cp "$QX_DIST/HalvornVeltrane.msi" "$(wine_c)/"

wine_run 120 "$out" msiexec /i 'C:\HalvornVeltrane.msi' /qn
expect_eq "install" 0 "$WINE_RC"

# value SOURCE NAME: "TYPE DATA" of one registry value.
value() {
    timeout 30 wine reg query "$app\\$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
        awk -v n="$2" '$1 == n { $1 = ""; sub(/^ +/, ""); print }'
}
quellix_messages=$(value Quellix EventMessageFile)
expect_eq "Quellix EventMessageFile" 'REG_SZ C:\windows\Halvorn\Quellix.exe' "$quellix_messages"
expect_eq "Quellix TypesSupported" 'REG_DWORD 0x7' "$(value Quellix TypesSupported)"
quellix_categories=$(value Quellix CategoryMessageFile)
expect_eq "Quellix CategoryMessageFile" 'REG_SZ C:\windows\Halvorn\Quellix.exe' "$quellix_categories"
expect_eq "Quellix CategoryCount" 'REG_DWORD 0x1' "$(value Quellix CategoryCount)"
svc='Halvorn Veltrane Service'
service_messages=$(value "$svc" EventMessageFile)
expect_eq "service EventMessageFile" 'REG_SZ C:\windows\Halvorn\QXservice.exe' "$service_messages"
expect_eq "service TypesSupported" 'REG_DWORD 0x7' "$(value "$svc" TypesSupported)"
expect_eq "service has no category" '' "$(value "$svc" CategoryCount)"

# message VALUE ID INSERTS...: the text Event Viewer would show for an event
# of the source whose message-file VALUE (as read above) is given.
message() {
    local file=${1#REG_SZ } id=$2
    shift 2
    timeout 60 wine "$probe" "$file" "$id" "$@" </dev/null 2>/dev/null | tr -d '\r'
}
expect_eq "daemon message" "0x00000002: [QUELLIX: Veltrane 2.4.9 Started.]" \
    "$(message "$quellix_messages" 2 'QUELLIX: Veltrane 2.4.9 Started.')"
expect_eq "daemon category 1" "0x00000001: [Steering]" "$(message "$quellix_categories" 1)"
expect_eq "service error" "0xC0020001: [Halvorn Veltrane Antenna Service Application Unable to create process. failed with 2]" \
    "$(message "$service_messages" 0xC0020001 "$svc" 'Halvorn Veltrane Antenna Service Application Unable to create process. failed with 2')"
expect_eq "service information" "0x00002000: [Halvorn Veltrane Antenna Service Application Stopped.]" \
    "$(message "$service_messages" 0x2000 "$svc" 'Halvorn Veltrane Antenna Service Application Stopped.')"
# Text that looks like an insert is shown as it is.
expect_eq "percent signs as they are" "0x00000002: [QUELLIX: 100% %1 done]" \
    "$(message "$quellix_messages" 2 'QUELLIX: 100% %1 done')"
expect_eq "an id nobody reports" "0x00000003: error 317" "$(message "$quellix_messages" 3 x)"

wine_run 120 "$out" msiexec "/X$product" /qn
expect_eq "uninstall" 0 "$WINE_RC"
for source in Quellix "$svc"; do
    if timeout 30 wine reg query "$app\\$source" </dev/null >/dev/null 2>&1; then
        fail "event source $source still registered after the uninstall"
    fi
done
finish
