# Project-wide compiler settings: warnings on, and one place to add sanitizers.
set(ITR_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports impossible overlaps inside std::string concatenation at -O3 (a known
  # false positive of -Wrestrict).
  list(APPEND ITR_WARNINGS -Wno-restrict)
endif()
# Warnings as errors: ./test (and so CI) turns them on; a plain build leaves them off, so a
# newer compiler's new warning does not stop someone who only builds.
option(ITR_WERROR "Treat warnings as errors" OFF)
if(ITR_WERROR)
  list(APPEND ITR_WARNINGS -Werror)
endif()

# Applies the project's warning set to a target of our own (not to third-party code).
function(itr_target_defaults target)
  target_compile_options(${target} PRIVATE ${ITR_WARNINGS})
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                 _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  endif()
endfunction()

option(ITR_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(ITR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
