# Writes a manual page from a program's own --help text, so the page says what
# the program does.
#   cmake -DPROGRAM=path -DNAME=tollan -DSUMMARY="..." -DVERSION=x.y.z -DOUT=tollan.1 -P man_page.cmake
foreach(var PROGRAM NAME SUMMARY VERSION OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "man_page.cmake: ${var} is not set")
  endif()
endforeach()

# --help needs no display; a sanitizer build must not fail on leaks at exit.
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{ASAN_OPTIONS} detect_leaks=0)
execute_process(COMMAND "${PROGRAM}" --help
  OUTPUT_VARIABLE help RESULT_VARIABLE rc ERROR_VARIABLE errors)
if(NOT rc EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help failed (${rc}): ${errors}")
endif()

# Roff: backslashes written as \e, hyphens as \- (so options can be copied),
# and a line that starts with a dot or quote is not read as a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")

string(TOUPPER "${NAME}" upper)
set(page ".TH ${upper} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\n${NAME} \\- ${SUMMARY}\n")
string(APPEND page ".SH SYNOPSIS AND OPTIONS\n.nf\n${help}.fi\n")
if(NAME STREQUAL "tollan")
  string(APPEND page
    ".SH ENVIRONMENT\n"
    ".TP\n.B TOLLAN_HOME\nThe folder that holds \\fItollan.cfg\\fR and \\fILogfile.txt\\fR.\n"
    ".TP\n.B XDG_CONFIG_HOME\nWithout \\fBTOLLAN_HOME\\fR, and when the program's own folder is not writable,\n"
    "the settings file lives in \\fI$XDG_CONFIG_HOME/tollan/\\fR (default \\fI~/.config/tollan/\\fR).\n"
    ".SH FILES\n"
    ".TP\n.I tollan.cfg\nThe settings file, with camera passwords; written with mode 0600.\n"
    ".TP\n.I tollan.run.lock\nHeld by the running recorder; one recorder per settings file.\n"
    ".TP\n.I tollan.cfg.lock\nTaken by settings commands while they change the file.\n"
    ".TP\n.I Logfile.txt\nThe event log, when \\fB\\-\\-log\\-to\\-file 1\\fR is set.\n"
    ".SH SERVICE\n"
    "The unit \\fItollan\\-headless.service\\fR runs \\fBtollan \\-\\-headless\\fR as the system user\n"
    "\\fBtollan\\fR with \\fBTOLLAN_HOME\\fR=\\fI/var/lib/tollan\\fR; SIGTERM stops every camera\n"
    "so that each file ends on a whole frame.\n")
endif()
string(APPEND page ".SH SEE ALSO\n")
set(others tollan velmo brandle)
list(REMOVE_ITEM others "${NAME}")
list(GET others 0 first)
list(GET others 1 second)
string(APPEND page ".BR ${first} (1),\n.BR ${second} (1)\n")
# Installed compressed, as Debian keeps manual pages; -n leaves no time stamp in it.
get_filename_component(plain "${OUT}" NAME_WLE)
get_filename_component(folder "${OUT}" DIRECTORY)
file(WRITE "${folder}/${plain}" "${page}")
execute_process(COMMAND gzip -n -9 -c "${folder}/${plain}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot compress ${folder}/${plain}")
endif()
