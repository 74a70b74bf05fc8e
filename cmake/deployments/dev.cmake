# Development deployment: every environment points at the project's local sandbox service on loopback,
# one port each, so a test can tell which environment a request reached. The credentials and the key
# are made up; a real deployment passes its own file with -DK5_DEPLOYMENT_FILE=<path>.
set(K5_ENV_DEV_HOST "https://localhost:47841")
set(K5_ENV_DEV_CLIENT_ID "DevClient0000001")
set(K5_ENV_DEV_CLIENT_SECRET "DevSecret0000000000000000000001x")
set(K5_ENV_STAGING_PRACTICE_HOST "https://localhost:47842")
set(K5_ENV_STAGING_PRACTICE_CLIENT_ID "StgPracClient002")
set(K5_ENV_STAGING_PRACTICE_CLIENT_SECRET "StgPracSecret0000000000000000002")
set(K5_ENV_STAGING_TRADE_HOST "https://localhost:47843")
set(K5_ENV_STAGING_TRADE_CLIENT_ID "StgTradClient003")
set(K5_ENV_STAGING_TRADE_CLIENT_SECRET "StgTradSecret0000000000000000003")
set(K5_ENV_PRACTICE_HOST "https://localhost:47844")
set(K5_ENV_PRACTICE_CLIENT_ID "PracticeClient04")
set(K5_ENV_PRACTICE_CLIENT_SECRET "PracticeSecret000000000000000004")
set(K5_ENV_TRADE_HOST "https://localhost:47845")
set(K5_ENV_TRADE_CLIENT_ID "TradeClient00005")
set(K5_ENV_TRADE_CLIENT_SECRET "TradeSecret000000000000000000005")
# Byte 0 first: the token file's bytes are masked with 5a, 3c, 9e, 17, 5a, ...
set(K5_TOKEN_FILE_KEY "5a3c9e17")
set(K5_REDIRECT_URI "https://k5-mkview.example")
# The sandbox's test certificate authority, made at test time; native builds trust it besides the system store.
set(K5_EXTRA_CA_FILE "${CMAKE_SOURCE_DIR}/build/sandbox/pki/ca.pem")
