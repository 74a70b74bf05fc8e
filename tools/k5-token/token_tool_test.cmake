# cmake -DTOOL=<k5-token> [-DEMULATOR=<runner>] -DWORK_DIR=<scratch folder> -P token_tool_test.cmake
#
# The tool writes token files and reads them back through the library's code: the token comes
# back unchanged, is printed only on request, and broken or missing files fail.

cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/plain ${WORK_DIR}/empty)
set(failures "")

# run(<expected exit: 0 or "fail"> <text the output must hold, or ""> <text it must not hold, or "">
#     <arguments...>)
function(run expected_exit must must_not)
  # Into files, not pipes: under Wine the wineserver that the first run starts inherits the
  # pipes, and reading them to their end would wait for it to exit.
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN} RESULT_VARIABLE result
                  OUTPUT_FILE ${WORK_DIR}/out.txt ERROR_FILE ${WORK_DIR}/err.txt)
  file(READ ${WORK_DIR}/out.txt out)
  file(READ ${WORK_DIR}/err.txt err)
  set(text "${out}${err}")
  set(problem "")
  if(expected_exit STREQUAL "0" AND NOT result EQUAL 0)
    set(problem "exit ${result}")
  elseif(expected_exit STREQUAL "fail" AND result EQUAL 0)
    set(problem "succeeded")
  endif()
  if(NOT must STREQUAL "")
    string(FIND "${text}" "${must}" at)
    if(at LESS 0)
      string(APPEND problem " without \"${must}\"")
    endif()
  endif()
  if(NOT must_not STREQUAL "")
    string(FIND "${text}" "${must_not}" at)
    if(at GREATER_EQUAL 0)
      string(APPEND problem " showing \"${must_not}\"")
    endif()
  endif()
  if(NOT problem STREQUAL "")
    set(failures "${failures}\nk5-token ${ARGN}:${problem}\n${text}" PARENT_SCOPE)
  endif()
endfunction()

set(token "sandbox-practice-token")
run(0 "tervik_token.txt" "" write ${WORK_DIR}/plain ${token})
run(0 "decodes to a token of 22 bytes" "${token}" check ${WORK_DIR}/plain)
run(0 "token: ${token}" "" check ${WORK_DIR}/plain --show)
file(READ ${WORK_DIR}/plain/tervik_token.txt written)
if(NOT written MATCHES "^[A-Za-z0-9+/]+=*\n$" OR written MATCHES "${token}")
  string(APPEND failures "\nthe written file is not masked Base64 with a line break: ${written}")
endif()

# Rewriting replaces the token; folders and tokens need not be ASCII.
set(other "токен-トークン")
file(MAKE_DIRECTORY "${WORK_DIR}/тест-テスト")
run(0 "" "" write "${WORK_DIR}/тест-テスト" ${other})
run(0 "token: ${other}" "" check "${WORK_DIR}/тест-テスト" --show)
run(0 "" "" write ${WORK_DIR}/plain ${other})
run(0 "token: ${other}" "" check ${WORK_DIR}/plain --show)

# A file with nothing but white space holds the empty token.
file(WRITE ${WORK_DIR}/empty/tervik_token.txt " \r\n")
run(0 "decodes to the empty token" "" check ${WORK_DIR}/empty)
file(REMOVE ${WORK_DIR}/empty/tervik_token.txt)

run(fail "File does not exist: " "" check ${WORK_DIR}/empty)
file(WRITE ${WORK_DIR}/empty/tervik_token.txt "not*base64\n")
run(fail "is not valid Base64" "" check ${WORK_DIR}/empty)
run(fail "is not a folder" "" write ${WORK_DIR}/absent ${token})
run(fail "expected <folder> <token>" "" write ${WORK_DIR}/plain)
run(fail "unknown command" "" fetch)
run(0 "write <folder> <token>" "" help)

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "token tool checks failed:${failures}")
endif()
