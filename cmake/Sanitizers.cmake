if(PELKOR_SANITIZE AND PELKOR_TSAN)
  message(FATAL_ERROR "PELKOR_SANITIZE and PELKOR_TSAN exclude each other")
endif()

if(PELKOR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(PELKOR_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(PELKOR_FUZZ)
  # Libraries get coverage instrumentation; each fuzz target links the fuzzer driver itself.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
