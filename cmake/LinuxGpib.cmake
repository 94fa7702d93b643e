# The real linux-gpib user library, built from its source by scripts/linux-gpib into
# <build>/linux-gpib/libgpib.so.0 when the source is there (../shared/linux-gpib or
# $KTQ_LINUX_GPIB_SRC). KTQ_REAL_LIBGPIB names the file, empty when the source is missing.

set(KTQ_REAL_LIBGPIB "")
execute_process(
  COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/linux-gpib --where
  OUTPUT_VARIABLE _ktq_linux_gpib_source
  RESULT_VARIABLE _ktq_linux_gpib_found
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(_ktq_linux_gpib_found EQUAL 0)
  set(KTQ_REAL_LIBGPIB ${CMAKE_BINARY_DIR}/linux-gpib/libgpib.so.0)
  add_custom_command(
    OUTPUT ${KTQ_REAL_LIBGPIB}
    COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/linux-gpib ${CMAKE_BINARY_DIR}/linux-gpib
    DEPENDS ${CMAKE_SOURCE_DIR}/scripts/linux-gpib ${_ktq_linux_gpib_source}
    COMMENT "Building the real linux-gpib library"
    VERBATIM)
  add_custom_target(linux_gpib ALL DEPENDS ${KTQ_REAL_LIBGPIB})
else()
  message(STATUS "${_ktq_linux_gpib_source}")
endif()
