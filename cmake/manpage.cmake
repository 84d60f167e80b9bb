# Writes the manual page lupex-host(1) from the host's own --help, so that the two
# never drift apart: the usage lines become the SYNOPSIS, the paragraph after them
# the DESCRIPTION, and each "topic:" section of --help a section of the page with
# its lines as --help prints them. Run at build time:
#   cmake -DHOST=<lupex-host> -DVERSION=<version> -DOUTPUT=<lupex-host.1> -P manpage.cmake
execute_process(COMMAND ${HOST} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${HOST} --help failed (${status})")
endif()

# Text as roff shows it literally: a backslash as \e, a dash as \- (a minus sign,
# which pastes as "-"), and \& in front of a line that starts with "." or "'".
function(roff_escape text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

string(REPLACE ";" "\\;" help "${help}")
string(REPLACE "\n" ";" lines "${help}")
set(page ".TH LUPEX\\-HOST 1 \"\" \"lupex ${VERSION}\" \"User Commands\"\n.SH NAME\n")
string(APPEND page "lupex\\-host \\- call the procedures of the lupex library from the command line\n")
string(APPEND page ".SH SYNOPSIS\n.nf\n")
set(part synopsis)
foreach(line IN LISTS lines)
  if(part STREQUAL "synopsis")
    if(line STREQUAL "")
      string(APPEND page ".fi\n.SH DESCRIPTION\n")
      set(part description)
      continue()
    endif()
    string(REGEX REPLACE "^(usage:)? +" "" line "${line}") # one match: no blank inside
    roff_escape("${line}" line)
    string(APPEND page "${line}\n")
  elseif(line MATCHES "^([a-z][a-z ]*):$")
    if(part STREQUAL "section")
      string(APPEND page ".fi\n")
    endif()
    string(TOUPPER "${CMAKE_MATCH_1}" title)
    string(APPEND page ".SH ${title}\n.nf\n")
    set(part section)
  elseif(part STREQUAL "description")
    roff_escape("${line}" line)
    if(NOT line STREQUAL "")
      string(APPEND page "${line}\n")
    endif()
  else()
    # Lines of a section: the two blanks of --help's indent go, roff indents.
    if(line MATCHES "^  ")
      string(SUBSTRING "${line}" 2 -1 line)
    endif()
    roff_escape("${line}" line)
    string(APPEND page "${line}\n")
  endif()
endforeach()
if(part STREQUAL "section")
  string(APPEND page ".fi\n")
endif()
# The last section ends with the empty line after --help's last line.
string(REGEX REPLACE "\n\n\\.fi\n$" "\n.fi\n" page "${page}")
file(WRITE ${OUTPUT} "${page}")
