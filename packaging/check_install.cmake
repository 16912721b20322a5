# Installs the build into a scratch folder and checks that every file of the
# layout is there, that the service starts the installed recorder headless as
# an unprivileged user, and that the player owns the MJPG type.
#   cmake -DBUILD=dir -DPREFIX=/usr/local -DFILES="a;b" -P check_install.cmake
# PREFIX is the build's install prefix; DESTDIR puts the tree under the build folder.
set(stage ${BUILD}/install-check)
file(REMOVE_RECURSE ${stage})
set(ENV{DESTDIR} ${stage})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD}
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${errors}")
endif()
set(failures)
foreach(f ${FILES})
  if(NOT EXISTS ${stage}${PREFIX}/${f} OR IS_DIRECTORY ${stage}${PREFIX}/${f})
    list(APPEND failures "missing ${PREFIX}/${f}")
  endif()
endforeach()
foreach(program tollan velmo brandle)
  if(EXISTS ${stage}${PREFIX}/bin/${program})
    execute_process(COMMAND test -x ${stage}${PREFIX}/bin/${program} RESULT_VARIABLE notExecutable)
    if(notExecutable)
      list(APPEND failures "bin/${program} is not executable")
    endif()
  endif()
endforeach()

# Per file, the start of a line that it must hold.
set(expect
  "lib/systemd/system/tollan-headless.service|ExecStart=${PREFIX}/bin/tollan --headless"
  "lib/systemd/system/tollan-headless.service|User=tollan"
  "lib/systemd/system/tollan-headless.service|Environment=TOLLAN_HOME=%S/tollan"
  "lib/systemd/system/tollan-headless.service|StateDirectory=tollan"
  "lib/systemd/system/tollan-headless.service|Restart=on-failure"
  "lib/systemd/system/tollan-headless.service|KillSignal=SIGTERM"
  "lib/systemd/system/tollan-headless.service|TimeoutStopSec=600"
  "share/applications/velmo.desktop|MimeType=video/x-mjpeg"
  "share/applications/velmo.desktop|Exec=velmo %f"
  "share/applications/tollan.desktop|Exec=tollan"
  "share/applications/brandle.desktop|Exec=brandle"
  "share/mime/packages/tollan-mjpg.xml|    <glob pattern=\"*.mjpg\"/>"
  "share/man/man1/tollan.1.gz|  \\-\\-headless                 record every camera of the settings file"
  "share/man/man1/velmo.1.gz|       velmo \\-\\-info FILE"
  "share/man/man1/brandle.1.gz|  \\-\\-fps N       frames per second, a whole number from 1 to 30 (default 10)")
foreach(row ${expect})
  string(FIND "${row}" "|" bar)
  string(SUBSTRING "${row}" 0 ${bar} file)
  math(EXPR start "${bar} + 1")
  string(SUBSTRING "${row}" ${start} -1 line)
  set(path ${stage}${PREFIX}/${file})
  if(EXISTS ${path})
    if(path MATCHES "\\.gz$")
      execute_process(COMMAND gzip -dc ${path} OUTPUT_VARIABLE content RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        list(APPEND failures "${file} does not decompress")
      endif()
    else()
      file(READ ${path} content)
    endif()
    string(FIND "\n${content}" "\n${line}" found)
    if(found EQUAL -1)
      list(APPEND failures "${file} has no line starting ${line}")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE ${stage})
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "install layout:\n  ${text}")
endif()
message(STATUS "install layout complete")
