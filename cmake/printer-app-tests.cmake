# Tests of kvrac-printer (tests/app/kvrac-printer): they start the program itself, so
# they know its path and build it first; without the program they report it unbuilt.
if(TARGET test_app_kvrac-printer AND TARGET kvrac-printer)
    target_compile_definitions(test_app_kvrac-printer PRIVATE
        KVRAC_PRINTER_BINARY="$<TARGET_FILE:kvrac-printer>")
    add_dependencies(test_app_kvrac-printer kvrac-printer)
endif()
