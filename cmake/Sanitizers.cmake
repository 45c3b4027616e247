# BRISEL_SANITIZE=address gives ASan+UBSan, BRISEL_SANITIZE=thread gives TSan, for every target.
if(BRISEL_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(BRISEL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT BRISEL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "BRISEL_SANITIZE must be empty, 'address' or 'thread', not '${BRISEL_SANITIZE}'")
endif()

# Fuzzing builds instrument the whole library for coverage; each fuzz target links the fuzzer itself.
if(BRISEL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
