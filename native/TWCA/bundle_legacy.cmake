# OpenSSL's legacy provider module (RC2, DES, ... : what old PKCS#12 files are
# encrypted with), installed into the package at TWCA/ossl-modules/legacy.so.
# A wheel carries it beside its own copy of libcrypto, so that an old
# certificate opens without the system's module, and without the system's
# module pulling a second libcrypto into the process. The signing modules
# look there when OPENSSL_MODULES is unset.
#
# The module must come from the same OpenSSL as the libcrypto the modules
# link: by default the modulesdir pkg-config gives for libcrypto, else the
# ossl-modules folder beside that libcrypto (OpenSSL's own default).
if(NOT ORVANE_OPENSSL_MODULES_DIR)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_get_variable(_modulesdir libcrypto modulesdir)
  endif()
  if(NOT _modulesdir)
    get_filename_component(_libdir "${OPENSSL_CRYPTO_LIBRARY}" DIRECTORY)
    set(_modulesdir "${_libdir}/ossl-modules")
  endif()
  set(ORVANE_OPENSSL_MODULES_DIR "${_modulesdir}" CACHE PATH
      "folder of OpenSSL's provider modules, the legacy one is bundled from there")
endif()
set(_legacy "${ORVANE_OPENSSL_MODULES_DIR}/legacy.so")
if(NOT EXISTS "${_legacy}")
  message(FATAL_ERROR "ORVANE_BUNDLE_LEGACY: no legacy provider at ${_legacy} "
                      "(set ORVANE_OPENSSL_MODULES_DIR to OpenSSL's modules folder)")
endif()
message(STATUS "Bundling OpenSSL's legacy provider ${_legacy}")
install(FILES "${_legacy}" DESTINATION TWCA/ossl-modules
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                    WORLD_READ WORLD_EXECUTE)
