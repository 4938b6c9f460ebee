# Installs the "web" component of BUILD_DIR under a scratch DESTDIR and checks
# that every served file lands, unchanged, in RESOURCE_PATH.
#   cmake -DBUILD_DIR=... -DRESOURCE_PATH=... -DHTML_DIR=... -DSCRATCH=... -P check_install.cmake
file(REMOVE_RECURSE ${SCRATCH})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${SCRATCH}
          ${CMAKE_COMMAND} --install ${BUILD_DIR} --component web
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install of the web component failed: ${rc}")
endif()
foreach(name test.html favicon.ico sonivale-logo.png leaf.jpg)
  set(installed ${SCRATCH}${RESOURCE_PATH}/${name})
  if(NOT EXISTS ${installed})
    message(FATAL_ERROR "${name} not installed in ${RESOURCE_PATH}")
  endif()
  file(SHA256 ${installed} got)
  file(SHA256 ${HTML_DIR}/${name} want)
  if(NOT got STREQUAL want)
    message(FATAL_ERROR "installed ${name} differs from ${HTML_DIR}/${name}")
  endif()
endforeach()
file(REMOVE_RECURSE ${SCRATCH})
message(STATUS "web files installed in ${RESOURCE_PATH}")
