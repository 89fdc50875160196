# ISA-L's inflate, built from its pinned sources into the static library
# morvane_isal: the deflate decoder (igzip) and the CRC-32 it links against,
# with the processor's own code where ISA-L has it (NASM on x86_64, GNU
# assembler on aarch64) and its C code elsewhere. The source lists are ISA-L's
# own (its cmake/igzip.cmake and cmake/crc.cmake), so a new version brings its
# files with it; only what the module calls is linked from the archive.
#
#   morvane_add_isal_inflate(SOURCE_TREE)
#
# Needs a C compiler, and on x86_64 NASM (Debian's nasm); the caller checks
# for NASM first (morvane_isal_can_build) and takes zlib-ng without it.

# The processor the C compiler builds for, asked of the compiler's own
# macros: CMAKE_SYSTEM_PROCESSOR names the build machine's where a compiler
# for another is given without a toolchain file. Sets the cache variables
# MORVANE_COMPILES_FOR_X86_64 and MORVANE_COMPILES_FOR_AARCH64.
function(morvane_isal_processor)
  include(CheckCSourceCompiles)
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
  check_c_source_compiles("#if !defined(__x86_64__) && !defined(_M_X64)\n#error not x86_64\n#endif\nint x;"
    MORVANE_COMPILES_FOR_X86_64)
  check_c_source_compiles("#if !defined(__aarch64__) && !defined(_M_ARM64)\n#error not aarch64\n#endif\nint x;"
    MORVANE_COMPILES_FOR_AARCH64)
endfunction()

# Whether ISA-L's inflate can be built for this target: where its code for
# the processor is in assembly, the assembler must be at hand.
function(morvane_isal_can_build result why)
  set(${result} TRUE PARENT_SCOPE)
  set(${why} "" PARENT_SCOPE)
  if(MORVANE_COMPILES_FOR_X86_64)
    include(CheckLanguage)
    check_language(ASM_NASM)
    if(NOT CMAKE_ASM_NASM_COMPILER)
      set(${result} FALSE PARENT_SCOPE)
      set(${why} "no NASM to assemble its x86_64 code (Debian's package nasm)" PARENT_SCOPE)
    endif()
  endif()
endfunction()

# A macro: the assembler's language is enabled in the caller's scope, the
# only one CMake allows.
macro(morvane_add_isal_inflate tree)
  if(MORVANE_COMPILES_FOR_X86_64)
    if(APPLE)
      set(CMAKE_ASM_NASM_OBJECT_FORMAT macho64)
    else()
      set(CMAKE_ASM_NASM_OBJECT_FORMAT elf64)
    endif()
    enable_language(ASM_NASM)
  elseif(MORVANE_COMPILES_FOR_AARCH64)
    enable_language(ASM)
  endif()
  _morvane_isal_library("${tree}")
endmacro()

function(_morvane_isal_library tree)
  # The processor names ISA-L's lists are chosen by.
  foreach(cpu CPU_X86_64 CPU_AARCH64 CPU_PPC64LE CPU_RISCV64 CPU_UNDEFINED)
    set(${cpu} OFF)
  endforeach()
  if(MORVANE_COMPILES_FOR_X86_64)
    set(CPU_X86_64 ON)
    set(arch x86_64)
    if(APPLE)
      set(nasm_flags --prefix=_)
    else()
      set(nasm_flags -DLINUX)
    endif()
  elseif(MORVANE_COMPILES_FOR_AARCH64)
    set(CPU_AARCH64 ON)
    set(arch aarch64)
  else()
    set(CPU_UNDEFINED ON)
    set(arch "")
  endif()
  set(ISAL_BUILD_TESTS OFF)
  set(ISAL_BUILD_PERF_TESTS OFF)
  include(${tree}/cmake/igzip.cmake)
  include(${tree}/cmake/crc.cmake)
  set(sources ${IGZIP_SOURCES} ${CRC_SOURCES})
  list(TRANSFORM sources PREPEND "${tree}/")
  # ISA-L takes a Huffman code that leaves codes unused (an incomplete code)
  # as readily as a complete one, where zlib refuses the block: a stream one
  # reads and the other refuses. Its decoder is compiled from a copy that
  # refuses them as well. It is stricter than zlib there, which lets one
  # symbol of one bit stand alone, and an empty distance code: the module
  # reads what ISA-L refuses again with zlib, so those streams still read
  # as zlib reads them, only more slowly.
  set(inflate_c "${tree}/igzip/igzip_inflate.c")
  file(READ "${inflate_c}" text)
  set(over_subscribed "if (max > (1 << MAX_HUFF_TREE_DEPTH))")
  string(REPLACE "${over_subscribed}" "" rest "${text}")
  string(LENGTH "${text}" before)
  string(LENGTH "${rest}" after)
  string(LENGTH "${over_subscribed}" one)
  math(EXPR found "(${before} - ${after}) / ${one}")
  if(NOT found EQUAL 2)
    message(FATAL_ERROR "${inflate_c} does not check its Huffman codes as ISA-L 2.32 does "
      "(${found} checks found, not 2): its codes cannot be held to be complete")
  endif()
  string(REPLACE "${over_subscribed}" "if (max != (1 << MAX_HUFF_TREE_DEPTH))" text "${text}")
  # Written where it changed only, so that a new configure compiles nothing.
  set(copy "${CMAKE_CURRENT_BINARY_DIR}/isal/igzip_inflate.c")
  file(WRITE "${copy}.new" "${text}")
  configure_file("${copy}.new" "${copy}" COPYONLY)
  list(REMOVE_ITEM sources "${inflate_c}")
  list(APPEND sources "${copy}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${inflate_c}")
  add_library(morvane_isal STATIC ${sources})
  target_include_directories(morvane_isal PUBLIC ${tree}/include PRIVATE ${tree} ${tree}/igzip ${tree}/crc)
  target_compile_definitions(morvane_isal PRIVATE ISAL_DEPRECATED_INTERNAL $<$<BOOL:${arch}>:${arch}>)
  set_target_properties(morvane_isal PROPERTIES C_VISIBILITY_PRESET hidden POSITION_INDEPENDENT_CODE ON)
  # A function to a section, so that the module's link drops the deflate
  # (compression) code the inflate's objects drag in.
  target_compile_options(morvane_isal PRIVATE $<$<COMPILE_LANGUAGE:C>:-ffunction-sections -fdata-sections>)
  if(CPU_X86_64)
    foreach(source IN LISTS sources)
      if(source MATCHES "\\.asm$")
        get_filename_component(folder ${source} DIRECTORY)
        set_source_files_properties(${source} PROPERTIES
          INCLUDE_DIRECTORIES "${tree};${tree}/include;${folder}" COMPILE_OPTIONS "${nasm_flags}")
      endif()
    endforeach()
  elseif(CPU_AARCH64)
    set_property(SOURCE ${sources} APPEND PROPERTY COMPILE_DEFINITIONS $<$<COMPILE_LANGUAGE:ASM>:__ASSEMBLY__>)
  endif()
endfunction()
