# Benchmark deployment: every environment points at the benchmark's own nginx on loopback (one
# port, away from the sandbox's 47841-47845 so a benchmark never meets a test run). Credentials
# and key are made up; the certificates are the sandbox's test CA, trusted natively through the
# extra CA file.
foreach(env DEV STAGING_PRACTICE STAGING_TRADE PRACTICE TRADE)
  set(K5_ENV_${env}_HOST "https://localhost:47941")
endforeach()
set(K5_ENV_DEV_CLIENT_ID "BenchClient00001")
set(K5_ENV_DEV_CLIENT_SECRET "BenchSecret000000000000000000001")
set(K5_ENV_STAGING_PRACTICE_CLIENT_ID "BenchClient00002")
set(K5_ENV_STAGING_PRACTICE_CLIENT_SECRET "BenchSecret000000000000000000002")
set(K5_ENV_STAGING_TRADE_CLIENT_ID "BenchClient00003")
set(K5_ENV_STAGING_TRADE_CLIENT_SECRET "BenchSecret000000000000000000003")
set(K5_ENV_PRACTICE_CLIENT_ID "BenchClient00004")
set(K5_ENV_PRACTICE_CLIENT_SECRET "BenchSecret000000000000000000004")
set(K5_ENV_TRADE_CLIENT_ID "BenchClient00005")
set(K5_ENV_TRADE_CLIENT_SECRET "BenchSecret000000000000000000005")
set(K5_TOKEN_FILE_KEY "5a3c9e17")
set(K5_REDIRECT_URI "https://k5-mkview.example")
set(K5_EXTRA_CA_FILE "${CMAKE_SOURCE_DIR}/build/sandbox/pki/ca.pem")
