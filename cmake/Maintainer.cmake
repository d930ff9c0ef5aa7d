# The maintainer the Debian package names, as "Name <email>"; the first of:
#   -DVESTREL_MAINTAINER="Name <email>" at configure time;
#   Debian's own convention, DEBFULLNAME and DEBEMAIL in the environment
#     (DEBEMAIL may itself be "Name <email>");
#   git's user.name and user.email for the source tree;
#   a placeholder, with a warning.
# The result is VESTREL_PACKAGE_MAINTAINER.
set(VESTREL_MAINTAINER "" CACHE STRING "Maintainer named in the Debian package: Name <email>")
# Older build trees cached this as the default; it counts as not set.
set(VESTREL_PLACEHOLDER_MAINTAINER "Vestrel developers <vestrel@localhost>")

function(vestrel_maintainer_from_debian result)
  set(name "$ENV{DEBFULLNAME}")
  set(email "$ENV{DEBEMAIL}")
  if(email MATCHES "^(.*[^ ]) *<([^>]+)>$")
    if(name STREQUAL "")
      set(name "${CMAKE_MATCH_1}")
    endif()
    set(email "${CMAKE_MATCH_2}")
  endif()
  if(NOT name STREQUAL "" AND NOT email STREQUAL "")
    set(${result} "${name} <${email}>" PARENT_SCOPE)
  endif()
endfunction()

function(vestrel_git_setting key result)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} config --get ${key}
                  OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(${result} "${value}" PARENT_SCOPE)
endfunction()

function(vestrel_maintainer_from_git result)
  find_package(Git QUIET)
  if(NOT GIT_FOUND)
    return()
  endif()
  vestrel_git_setting(user.name name)
  vestrel_git_setting(user.email email)
  if(NOT name STREQUAL "" AND NOT email STREQUAL "")
    set(${result} "${name} <${email}>" PARENT_SCOPE)
  endif()
endfunction()

set(VESTREL_PACKAGE_MAINTAINER "")
if(NOT VESTREL_MAINTAINER STREQUAL "" AND NOT VESTREL_MAINTAINER STREQUAL VESTREL_PLACEHOLDER_MAINTAINER)
  set(VESTREL_PACKAGE_MAINTAINER "${VESTREL_MAINTAINER}")
endif()
if(VESTREL_PACKAGE_MAINTAINER STREQUAL "")
  vestrel_maintainer_from_debian(VESTREL_PACKAGE_MAINTAINER)
endif()
if(VESTREL_PACKAGE_MAINTAINER STREQUAL "")
  vestrel_maintainer_from_git(VESTREL_PACKAGE_MAINTAINER)
endif()
if(VESTREL_PACKAGE_MAINTAINER STREQUAL "")
  set(VESTREL_PACKAGE_MAINTAINER "${VESTREL_PLACEHOLDER_MAINTAINER}")
  message(WARNING "The Debian package names the placeholder maintainer '${VESTREL_PLACEHOLDER_MAINTAINER}'. "
                  "Configure with -DVESTREL_MAINTAINER=\"Name <email>\", or set DEBFULLNAME and DEBEMAIL, "
                  "or git's user.name and user.email.")
endif()
