# cmake -DK5_SOURCE_DIR=<repo> -DWORK_DIR=<scratch folder> -P deployment_check_test.cmake
#
# Checks copies of the development deployment file, each with one line appended that overrides a
# value, through cmake/K5Deployment.cmake in script mode (the function a configure runs): broken
# ones must stop it with a message naming the value and the rule, sound ones must pass.

cmake_minimum_required(VERSION 3.25)

set(dev_file ${K5_SOURCE_DIR}/cmake/deployments/dev.cmake)
set(checker ${K5_SOURCE_DIR}/cmake/K5Deployment.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(READ ${dev_file} dev_text)

set(failures "")
set(case_number 0)

# check(<line appended to the copy> <expected: "ok" or a text the message must contain>)
function(check line expected)
  math(EXPR n "${case_number} + 1")
  set(case_number ${n} PARENT_SCOPE)
  set(copy ${WORK_DIR}/case${n}.cmake)
  file(WRITE ${copy} "${dev_text}\n${line}\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DK5_DEPLOYMENT_FILE=${copy} -P ${checker}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(text "${out}${err}")
  if(expected STREQUAL "ok")
    if(NOT result EQUAL 0)
      string(APPEND failures "\n[${line}] was refused:\n${text}")
    endif()
  else()
    string(FIND "${text}" "${expected}" at)
    if(result EQUAL 0)
      string(APPEND failures "\n[${line}] was accepted")
    elseif(at LESS 0)
      string(APPEND failures "\n[${line}] failed without \"${expected}\":\n${text}")
    endif()
  endif()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

set(host_rule "it must be https://host[:port] with a port from 1 to 65535, no path and no trailing \"/\"")
set(id_rule "must be 16 characters of A-Z, a-z, 0-9")
set(secret_rule "must be 32 characters of A-Z, a-z, 0-9")
set(key_rule "K5_TOKEN_FILE_KEY must be 8 hexadecimal digits")

# The file as it stands, and other forms the rules allow.
check("# unchanged" ok)
check("set(K5_ENV_TRADE_HOST \"https://api.example.com\")" ok)
check("set(K5_ENV_DEV_HOST \"https://[::1]:8443\")" ok)
check("set(K5_ENV_DEV_HOST \"https://127.0.0.1:65535\")" ok)
check("set(K5_TOKEN_FILE_KEY \"A0B1C2D3\")" ok)
check("unset(K5_EXTRA_CA_FILE)" ok)

# Hosts and the redirect address.
check("set(K5_ENV_DEV_HOST \"https://localhost:47841/\")" "K5_ENV_DEV_HOST is \"https://localhost:47841/\": ${host_rule}")
check("set(K5_ENV_PRACTICE_HOST \"http://localhost:47844\")" "K5_ENV_PRACTICE_HOST is \"http://localhost:47844\"")
check("set(K5_ENV_TRADE_HOST \"https://localhost:47845/v3\")" "K5_ENV_TRADE_HOST is")
check("set(K5_ENV_TRADE_HOST \"https://localhost:47845?x=1\")" "K5_ENV_TRADE_HOST is")
check("set(K5_ENV_STAGING_TRADE_HOST \"https://:47843\")" "K5_ENV_STAGING_TRADE_HOST is")
check("set(K5_ENV_STAGING_TRADE_HOST \"https://localhost:\")" "K5_ENV_STAGING_TRADE_HOST is")
check("set(K5_ENV_STAGING_TRADE_HOST \"https://localhost:0\")" "K5_ENV_STAGING_TRADE_HOST is")
check("set(K5_ENV_STAGING_TRADE_HOST \"https://localhost:65536\")" "K5_ENV_STAGING_TRADE_HOST is")
check("set(K5_ENV_STAGING_PRACTICE_HOST \"HTTPS://localhost:47842\")" "K5_ENV_STAGING_PRACTICE_HOST is")
check("set(K5_ENV_STAGING_PRACTICE_HOST \"https://user@localhost:47842\")" "K5_ENV_STAGING_PRACTICE_HOST is")
check("set(K5_REDIRECT_URI \"https://k5-mkview.example/callback\")" "K5_REDIRECT_URI is \"https://k5-mkview.example/callback\"")
check("set(K5_REDIRECT_URI \"k5-mkview.example\")" "K5_REDIRECT_URI is")

# Client ids and secrets.
check("set(K5_ENV_DEV_CLIENT_ID \"DevClient000001\")" "K5_ENV_DEV_CLIENT_ID ${id_rule} (it has 15 characters)")
check("set(K5_ENV_DEV_CLIENT_ID \"DevClient0000001x\")" "K5_ENV_DEV_CLIENT_ID ${id_rule} (it has 17 characters)")
check("set(K5_ENV_PRACTICE_CLIENT_ID \"Practice-Client4\")" "K5_ENV_PRACTICE_CLIENT_ID ${id_rule} (it has 16 characters, not all of them A-Z, a-z, 0-9)")
check("set(K5_ENV_TRADE_CLIENT_SECRET \"TradeSecret00000000000000000005\")" "K5_ENV_TRADE_CLIENT_SECRET ${secret_rule} (it has 31 characters)")
check("set(K5_ENV_TRADE_CLIENT_SECRET \"TradeSecret00000000000000000 005\")" "K5_ENV_TRADE_CLIENT_SECRET ${secret_rule} (it has 32 characters, not all")

# The key.
check("set(K5_TOKEN_FILE_KEY \"5a3c9e1\")" "${key_rule}, byte 0 first (it has 7 characters)")
check("set(K5_TOKEN_FILE_KEY \"5a3c9e1g\")" "${key_rule}, byte 0 first (it has 8 characters, not all")
check("set(K5_TOKEN_FILE_KEY \"0x5a3c9e\")" "${key_rule}")

# Missing values, and a value from outside the file cannot fill the gap.
check("unset(K5_ENV_STAGING_TRADE_CLIENT_SECRET)" "K5_ENV_STAGING_TRADE_CLIENT_SECRET is missing or empty")
check("set(K5_REDIRECT_URI \"\")" "K5_REDIRECT_URI is missing or empty")
check("set(K5_EXTRA_CA_FILE \"pki/ca.pem\")" "K5_EXTRA_CA_FILE is \"pki/ca.pem\": it must be an absolute path")

# Every broken value is listed, not only the first; secrets stay out of the message.
check("set(K5_ENV_DEV_CLIENT_SECRET \"short\")\nset(K5_ENV_TRADE_HOST \"https://x/\")" "K5_ENV_DEV_CLIENT_SECRET ${secret_rule} (it has 5 characters)\n    K5_ENV_TRADE_HOST is")
check("set(K5_ENV_DEV_CLIENT_SECRET \"NotToBeShown\")" "(it has 12 characters)")
execute_process(COMMAND ${CMAKE_COMMAND} -DK5_DEPLOYMENT_FILE=${WORK_DIR}/case${case_number}.cmake
                -P ${checker} ERROR_VARIABLE err OUTPUT_QUIET)
string(FIND "${err}" "NotToBeShown" leaked)
if(leaked GREATER_EQUAL 0)
  string(APPEND failures "\nthe message shows a client secret:\n${err}")
endif()

# No file at all.
execute_process(COMMAND ${CMAKE_COMMAND} -DK5_DEPLOYMENT_FILE=${WORK_DIR}/absent.cmake -P ${checker}
                RESULT_VARIABLE result ERROR_VARIABLE err)
string(FIND "${err}" "K5_DEPLOYMENT_FILE names no file:" at)
string(FIND "${err}" "${WORK_DIR}/absent.cmake" path_at)
if(result EQUAL 0 OR at LESS 0 OR path_at LESS 0)
  string(APPEND failures "\nan absent deployment file was not refused as such:\n${err}")
endif()

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "deployment checks failed:${failures}")
endif()
message(STATUS "${case_number} deployment files checked")
