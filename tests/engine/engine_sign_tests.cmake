# Tests of the credential, chain and CRL store and signer. They read the test
# PKI that tests/fixtures/make_pki.py makes once per ctest run (a CTest
# fixture, passed on in ORVANE_TEST_PKI); every test case runs in its own
# process, so the process-wide log and chain store start fresh in each.
set(ENGINE_PKI_DIR ${CMAKE_CURRENT_BINARY_DIR}/pki)
set(ENGINE_PKI_SCRIPT ${PROJECT_SOURCE_DIR}/tests/fixtures/make_pki.py)
add_test(NAME engine_make_pki COMMAND ${Python3_EXECUTABLE} ${ENGINE_PKI_SCRIPT} ${ENGINE_PKI_DIR})
set_tests_properties(engine_make_pki PROPERTIES FIXTURES_SETUP engine_pki)

add_executable(engine_sign_tests
  test_aes.cpp
  test_pkcs12.cpp
  test_crl.cpp
  test_chain.cpp
  test_twcasign.cpp
  test_sign_matrix.cpp
  test_sign_threads.cpp
  test_providers.cpp
)
find_package(Threads REQUIRED)
target_link_libraries(engine_sign_tests PRIVATE twca_engine GTest::gtest GTest::gtest_main Threads::Threads)
target_include_directories(engine_sign_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(engine_sign_tests PRIVATE
  ENGINE_TEST_PYTHON="${Python3_EXECUTABLE}"
  ENGINE_PKI_SCRIPT="${ENGINE_PKI_SCRIPT}")
gtest_discover_tests(engine_sign_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  PROPERTIES FIXTURES_REQUIRED engine_pki ENVIRONMENT "ORVANE_TEST_PKI=${ENGINE_PKI_DIR}")
