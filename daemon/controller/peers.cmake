# Peer table, steering update and link report.
target_sources(qx_daemon PRIVATE ${CMAKE_CURRENT_LIST_DIR}/peer_table.cpp)
target_sources(qx_daemon PRIVATE ${CMAKE_CURRENT_LIST_DIR}/os_clock_${QX_PLATFORM}.cpp)
