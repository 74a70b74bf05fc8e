# cmake -DTOOL=<k5-token> -DLIBRARY=<built library> [-DOTHER_BITNESS_LIBRARY=<dll>]
#       [-DEMULATOR=<runner>] -DWORK_DIR=<scratch folder> -DVERSION_LINE=<first line>
#       -P road_test.cmake
#
# `k5-token road` against the sandbox, one case per way the road ends. Each case runs in a folder
# of its own holding copies of the tool and the library, because the tool loads the library from
# its own folder and the token file lies beside the library.

cmake_minimum_required(VERSION 3.25)

get_filename_component(tool_name "${TOOL}" NAME)
get_filename_component(library_name "${LIBRARY}" NAME)
set(server "TERVIK-k5 Practice-2")
set(failures "")
file(REMOVE_RECURSE ${WORK_DIR})

# road_case(<folder> <library: built, none or other> <token file: valid, none, base64 or rejected>
#           <expected exit code> <texts the output must hold, ;-separated> <road arguments...>)
function(road_case folder library token expected must)
  set(dir "${WORK_DIR}/${folder}")
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${TOOL}" "${dir}/${tool_name}")
  if(library STREQUAL "built")
    file(COPY_FILE "${LIBRARY}" "${dir}/${library_name}")
  elseif(library STREQUAL "other")
    file(COPY_FILE "${OTHER_BITNESS_LIBRARY}" "${dir}/${library_name}")
  endif()
  if(token STREQUAL "valid" OR token STREQUAL "rejected")
    if(token STREQUAL "valid")
      set(value sandbox-practice-token)
    else()
      set(value sandbox-trade-token)  # a token of another environment
    endif()
    execute_process(COMMAND ${EMULATOR} "${dir}/${tool_name}" write "${dir}" ${value}
                    RESULT_VARIABLE result OUTPUT_FILE "${dir}/write.txt" ERROR_FILE "${dir}/write.txt")
    if(NOT result EQUAL 0)
      set(failures "${failures}\n${folder}: writing the token file failed (${result})" PARENT_SCOPE)
      return()
    endif()
  elseif(token STREQUAL "base64")
    file(WRITE "${dir}/tervik_token.txt" "not*base64\n")
  endif()

  # Into files, not pipes: under Wine the wineserver that the first run starts inherits the
  # pipes, and reading them to their end would wait for it to exit.
  execute_process(COMMAND ${EMULATOR} "${dir}/${tool_name}" road ${ARGN} RESULT_VARIABLE result
                  OUTPUT_FILE "${dir}/out.txt" ERROR_FILE "${dir}/err.txt")
  file(READ "${dir}/out.txt" out)
  file(READ "${dir}/err.txt" err)
  # Windows programs end lines with CR LF.
  string(REPLACE "\r\n" "\n" text "${out}${err}")
  set(problem "")
  if(NOT "${result}" STREQUAL "${expected}")
    string(APPEND problem " exit ${result}, expected ${expected};")
  endif()
  string(FIND "${text}" "${VERSION_LINE}\n" at)
  if(NOT at EQUAL 0)
    string(APPEND problem " the first line is not \"${VERSION_LINE}\";")
  endif()
  foreach(wanted IN LISTS must)
    string(FIND "${text}" "${wanted}" at)
    if(at LESS 0)
      string(APPEND problem " without \"${wanted}\";")
    endif()
  endforeach()
  # The token never shows, whatever happens.
  if(text MATCHES "sandbox-[a-z_]+-token")
    string(APPEND problem " the token shows;")
  endif()
  if(NOT problem STREQUAL "")
    set(failures "${failures}\n${folder} (road ${ARGN}):${problem}\n${text}" PARENT_SCOPE)
  endif()
endfunction()

if(LIBRARY MATCHES "\\.dll$")
  # The version resource the DLL carries, read back through the version API.
  set(version_shown "file version: ")
  set(missing_library "there is no k5-mkview.dll in ")
else()
  set(version_shown "")
  set(missing_library "there is no libk5-mkview.so in ")
endif()
# A bar time of 2019-12-23 17:00 on a GMT+2 server clock is 15:00 UTC, which the sandbox echoes.
set(book "book: EUR_USD at 2019-12-23T15:00:00Z, price 1.1025, bucket width 0.0005")
set(nearest "  > 120  1.1025  ")
# A folder outside ASCII: the tool finds itself and the library by wide paths on Windows.
road_case("ok-тест" built valid 0
          "${version_shown};InitCreds(\"${server}\", 0, 0, 0): ok;${book};${nearest};OrderBook_Free(1): ok;road ok"
          "${server}" EURUSD --time 1577120400 --gmt-offset 2)
road_case(no-token built none 4
          "token file: ;File does not exist: ;hint: write the token file"
          "${server}" EURUSD)
road_case(bad-base64 built base64 4
          "The token file is not valid Base64: ;hint: the token file is damaged"
          "${server}" EURUSD)
road_case(rejected-token built rejected 6
          "\nHTTP 401 Unauthorized from GET https://;hint: the service refused the access token"
          "${server}" EURUSD)
road_case(unknown-server built valid 7
          "Unrecognized Server: TERVIK-k5 Practice-9\n;hint: the library does not know"
          "TERVIK-k5 Practice-9" EURUSD)
road_case(no-library none valid 3
          "${missing_library};hint: put the"
          "${server}" EURUSD)
road_case(no-reply built valid 5
          "OrderBook(\"FAULT_CLOSE\", 0) failed; err:\nGET https://localhost:47844/v3/instruments/FAULT_CLOSE/orderBook failed"
          "${server}" FAULT_CLOSE)
road_case(not-found built valid 1
          "\nHTTP 404 Not Found from GET https://;hint: the service knows no such book"
          "${server}" FAULT_404)
road_case(usage built valid 2 "expected <trading-server-name> <instrument>" "${server}")
road_case(usage-time built valid 2 "--time needs a whole number" "${server}" EURUSD --time soon)
if(OTHER_BITNESS_LIBRARY)
  road_case(other-bitness other valid 3
            "failed with error 193;error 193: the library is of the wrong bitness"
            "${server}" EURUSD)
endif()

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "road checks failed:${failures}")
endif()
