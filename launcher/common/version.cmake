# The agent's version in each form the build needs, from AGENT_VERSION
# (the project's VERSION, major.minor.patch.build): 6.9.6.131326 gives the
# Debian version 6.9.6-131326.ubuntu and its package file name.
string(REPLACE "." ";" agent_version_parts "${AGENT_VERSION}")
list(LENGTH agent_version_parts agent_version_length)
if(NOT agent_version_length EQUAL 4)
    message(FATAL_ERROR "AGENT_VERSION must be major.minor.patch.build, not '${AGENT_VERSION}'")
endif()
list(GET agent_version_parts 0 agent_major)
list(GET agent_version_parts 1 agent_minor)
list(GET agent_version_parts 2 agent_patch)
list(GET agent_version_parts 3 agent_build)
set(AGENT_DEB_VERSION "${agent_major}.${agent_minor}.${agent_patch}-${agent_build}.ubuntu")
set(AGENT_PACKAGE_FILE_NAME "morrowlin-tesserak_${AGENT_DEB_VERSION}_amd64.deb")
