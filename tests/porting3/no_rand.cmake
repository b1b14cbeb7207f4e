# Fails when the crypto wrappers' or the string crypter's object refers to
# rand() or srand(): random bytes must come from OpenSSL, and the host
# process's rand() stays untouched.
#   cmake -DNM=<nm> -DLIB=<archive> -P no_rand.cmake
execute_process(COMMAND "${NM}" -A "${LIB}" OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^\n]*crypt[a-z_]*\\.cpp\\.o:[^\n]*" crypto "${symbols}")
if(NOT crypto)
  message(FATAL_ERROR "no crypto wrappers' object in ${LIB}")
endif()
foreach(line IN LISTS crypto)
  if(line MATCHES " U s?rand$")
    message(FATAL_ERROR "the crypto wrappers call rand: ${line}")
  endif()
endforeach()
