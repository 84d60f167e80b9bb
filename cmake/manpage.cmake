# Writes the manual page lupex-host(1) from the host's own --help, so that the two
# never drift apart. The page is man macros, which the reader's man fills to the
# terminal's width: the usage lines become the SYNOPSIS, the paragraph after them the
# DESCRIPTION, and each "topic:" section of --help a section of the page. In a
# section, a line that begins (after the two blanks of --help's indent) with "-" or a
# digit and then two blanks is a tagged paragraph, its tag before the blanks and its
# text after them and on the lines indented further below; the examples stay lines as
# they are; any other lines are text, and an empty line between them starts a new
# paragraph. No hyphenation, so that every word of --help stays one word of the page.
# Run at build time:
#   cmake -DHOST=<lupex-host> -DVERSION=<version> -DOUTPUT=<lupex-host.1> -P manpage.cmake
cmake_policy(VERSION 3.20) # quoted words are words, not variables to read
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
set(page ".TH LUPEX\\-HOST 1 \"\" \"lupex ${VERSION}\" \"User Commands\"\n.nh\n.ad l\n.SH NAME\n")
string(APPEND page "lupex\\-host \\- call the procedures of the lupex library from the command line\n")
string(APPEND page ".SH SYNOPSIS\n.nf\n")
# part: synopsis, description, or the kind of section: text (filled) or lines
# (examples). paragraph: in a text section, whether the last line was text, an
# item's or a paragraph's, so that an empty line ends it.
set(part synopsis)
set(paragraph "")
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
    if(part STREQUAL "lines")
      string(APPEND page ".fi\n")
    endif()
    string(TOUPPER "${CMAKE_MATCH_1}" title)
    string(APPEND page ".SH ${title}\n")
    if(title STREQUAL "EXAMPLES")
      string(APPEND page ".nf\n")
      set(part lines)
    else()
      set(part text)
    endif()
    set(paragraph "")
  elseif(line STREQUAL "")
    # Between paragraphs (the last line of the help is empty too).
    if(part STREQUAL "text" AND paragraph STREQUAL "text")
      set(paragraph "break")
    endif()
  elseif(part STREQUAL "lines")
    string(REGEX REPLACE "^  " "" line "${line}")
    roff_escape("${line}" line)
    string(APPEND page "${line}\n")
  elseif(part STREQUAL "text" AND line MATCHES "^  ([-0-9][^ ]*( [^ ]+)*)  +([^ ].*)$")
    # A tagged paragraph: the option or the status, then its text.
    roff_escape("${CMAKE_MATCH_1}" tag)
    roff_escape("${CMAKE_MATCH_3}" text)
    string(APPEND page ".TP\n\\fB${tag}\\fR\n${text}\n")
    set(paragraph item)
  else()
    # Filled text; in an item, a line indented further goes on with the item's text.
    if(paragraph STREQUAL "break" OR (paragraph STREQUAL "item" AND NOT line MATCHES "^   "))
      string(APPEND page ".PP\n")
    endif()
    if(NOT paragraph STREQUAL "item" OR NOT line MATCHES "^   ")
      set(paragraph text)
    endif()
    string(REGEX REPLACE "^ +" "" line "${line}")
    roff_escape("${line}" line)
    string(APPEND page "${line}\n")
  endif()
endforeach()
if(part STREQUAL "lines")
  string(APPEND page ".fi\n")
endif()
file(WRITE ${OUTPUT} "${page}")
