# Writes kvrac.1 with help2man: the program's --help and --version make the page, and
# every command's help (kvrac help COMMAND) is added as a section of its own.
# Run as: cmake -DKVRAC=... -DHELP2MAN=... -DOUTPUT=... -DWORK=... -P man-page.cmake
file(MAKE_DIRECTORY ${WORK})
set(include_file ${WORK}/commands.h2m)
set(text "[COMMANDS]\n")
foreach(command config plot report legend show formats about curve)
    execute_process(COMMAND ${KVRAC} help ${command} OUTPUT_VARIABLE help RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "kvrac help ${command} failed (${rc})")
    endif()
    # Troff: a backslash is written \e, and a line may not begin with a control
    # character.
    string(REPLACE "\\" "\\e" help "${help}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
    string(APPEND text ".SS \"kvrac ${command}\"\n.nf\n${help}.fi\n")
endforeach()
string(APPEND text "[SEE ALSO]\nThe user guide and the plot script format in "
                   "/usr/share/doc/kvrac (user-guide.md, plot-scripts.md, configuration.md).\n")
file(WRITE ${include_file} "${text}")
execute_process(
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1
            "--name=plot scripts and images into print jobs for Orvix 9270/9250 printers"
            --include=${include_file} --output=${OUTPUT} ${KVRAC}
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "help2man failed (${rc})")
endif()
