# Read by cpack. A native Node.js module only loads in the Node.js major version it was built
# for, so the backend package depends on exactly that one (scripts/package.sh records it).
set(node_major_file ${CPACK_QUILLPOINT_BACKEND_MODULES_DIR}/node-major)
if(EXISTS ${node_major_file})
    file(STRINGS ${node_major_file} node_major LIMIT_COUNT 1)
    math(EXPR node_next "${node_major} + 1")
    set(CPACK_DEBIAN_BACKEND_PACKAGE_DEPENDS "nodejs (>= ${node_major}), nodejs (<< ${node_next})")
endif()
