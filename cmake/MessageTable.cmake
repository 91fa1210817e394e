# qx_message_table(TARGET MC_FILE): compiles a message file with windmc and
# links its message table into the Windows program TARGET, so that Event
# Viewer can show the program's events (EventMessageFile points at the .exe).
if(WIN32 AND NOT COMMAND qx_message_table)
    function(qx_message_table target mc)
        string(REGEX REPLACE "windres$" "windmc" windmc "${CMAKE_RC_COMPILER}")
        get_filename_component(name ${mc} NAME_WE)
        set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}_mc)
        add_custom_command(
            OUTPUT ${out}/${name}.rc ${out}/${name}.h ${out}/MSG00409.bin
            COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
            COMMAND ${windmc} -h ${out} -r ${out} ${mc}
            DEPENDS ${mc}
            COMMENT "Message table ${name}")
        # windres finds the generated MSG00409.bin through the include path.
        set_source_files_properties(${out}/${name}.rc PROPERTIES
            INCLUDE_DIRECTORIES ${out}
            OBJECT_DEPENDS ${out}/MSG00409.bin)
        target_sources(${target} PRIVATE ${out}/${name}.rc)
    endfunction()
endif()
