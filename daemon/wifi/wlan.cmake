# WLAN link monitoring: rates, the WLAN client and IP Helper's adapter list.
target_sources(qx_daemon PRIVATE ${CMAKE_CURRENT_LIST_DIR}/vht_rates.cpp)
foreach(seam IN ITEMS os_wlan os_iphlp)
    target_sources(qx_daemon PRIVATE ${CMAKE_CURRENT_LIST_DIR}/${seam}_${QX_PLATFORM}.cpp)
endforeach()
if(WIN32)
    target_link_libraries(qx_daemon PUBLIC wlanapi iphlpapi ole32)
endif()
