# Test registration. Every test runs through testsupport/run-isolated, which gives it its own
# temporary HOME and XDG folders and the headless Qt settings, so no test sees another's files.

set(QUORIN_RUN_ISOLATED "${PROJECT_SOURCE_DIR}/testsupport/run-isolated")

# quorin_add_test(<name> SOURCES ... [LIBS ...] [WRAPPER <command> ...] [ENVIRONMENT VAR=value ...]
#                  [XVFB])
# Registers a Qt Test executable. WRAPPER runs between the isolation and the test (for example
# the private keychain daemon); ENVIRONMENT adds variables for this test only; XVFB runs it on a
# virtual X display (see quorin_register_test).
function(quorin_add_test name)
    cmake_parse_arguments(ARG "XVFB" "" "SOURCES;LIBS;WRAPPER;ENVIRONMENT;RESOURCES" ${ARGN})
    qt_add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test quorin_testsupport ${ARG_LIBS})
    quorin_register_target_test(${name})
endfunction()

# quorin_add_qml_test(<name> (QML_FILE <tst_*.qml> | QML_DIR <folder>) [SOURCES <setup.cpp> ...]
#                      [LIBS ...] [WRAPPER ...] [ENVIRONMENT ...] [XVFB])
# Registers a Qt Quick Test executable that runs one tst_*.qml file, or every tst_*.qml under a
# folder. Without SOURCES it runs on the shared set-up, quorin::test::QmlTestSetup: the interface
# module "Quorin" linked in, the import path "qrc:/qt/qml", the real SettingsController under
# "Quorin.Controllers" and the set-up itself as "TestSetup" of "Quorin.Testing". A test that needs
# more controllers passes SOURCES with a subclass of QmlTestSetup named in its own
# QUICK_TEST_MAIN_WITH_SETUP(<name>, <subclass>). XVFB: see quorin_register_test.
function(quorin_add_qml_test name)
    cmake_parse_arguments(ARG "XVFB" "QML_DIR;QML_FILE" "SOURCES;LIBS;WRAPPER;ENVIRONMENT" ${ARGN})
    if(ARG_SOURCES)
        qt_add_executable(${name} ${ARG_SOURCES})
    else()
        qt_add_executable(${name} "${PROJECT_SOURCE_DIR}/testsupport/QmlTestMain.cpp")
    endif()
    target_compile_definitions(${name} PRIVATE QUORIN_QML_TEST_NAME="${name}")
    if(ARG_QML_FILE)
        set(tests "${ARG_QML_FILE}")
    else()
        set(tests "${ARG_QML_DIR}")
    endif()
    target_link_libraries(${name} PRIVATE Qt6::QuickTest Qt6::Quick quorin_testsupport quorin_qmltestsupport
                          ${ARG_LIBS})
    target_compile_definitions(${name} PRIVATE QUICK_TEST_SOURCE_DIR="${tests}")
    quorin_register_target_test(${name})
endfunction()

# Registers the executable target <name> as the test of that name, with the WRAPPER, ENVIRONMENT
# and XVFB arguments the calling function parsed into ARG_*.
macro(quorin_register_target_test name)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests")
    set(display "")
    if(ARG_XVFB)
        set(display XVFB)
    endif()
    quorin_register_test(${name} $<TARGET_FILE:${name}> ${display} WRAPPER ${ARG_WRAPPER}
                         ENVIRONMENT ${ARG_ENVIRONMENT})
endmacro()

# quorin_register_test(<name> <command> ... [XVFB]) registers any command (a script, a program
# built elsewhere) with the same isolation. XVFB runs it under xvfb-run with the xcb platform:
# offscreen gives Qt Quick the software scene graph, where graphical effects draw nothing, so
# tests of effect pixels and screenshots need a real (Mesa) OpenGL scene graph. Such tests take
# turns on one lock, so parallel runs never race for a display number.
function(quorin_register_test name)
    cmake_parse_arguments(ARG "XVFB" "" "WRAPPER;ENVIRONMENT" ${ARGN})
    set(display_wrapper "")
    if(ARG_XVFB)
        set(display_wrapper xvfb-run -a -s "-screen 0 1280x1024x24")
        list(APPEND ARG_ENVIRONMENT QUORIN_TEST_QPA_PLATFORM=xcb)
    endif()
    add_test(NAME ${name}
             COMMAND "${QUORIN_RUN_ISOLATED}" ${display_wrapper} ${ARG_WRAPPER} ${ARG_UNPARSED_ARGUMENTS})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
    if(ARG_ENVIRONMENT)
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
    endif()
    if(ARG_XVFB)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK quorin_xvfb)
    endif()
endfunction()

# quorin_add_keychain_test(<name> SOURCES ... [LIBS ...] [ENVIRONMENT ...]) registers a Qt Test
# executable that runs against a private Secret Service (testsupport/with-secret-service): once
# with QUORIN_SECRET_SERVICE_PHASE=before-restart, then, after the keyring daemon restarted, once
# with QUORIN_SECRET_SERVICE_PHASE=after-restart.
set(QUORIN_SECRET_SERVICE_WRAPPER "${PROJECT_SOURCE_DIR}/testsupport/with-secret-service")
function(quorin_add_keychain_test name)
    quorin_add_test(${name} ${ARGN} WRAPPER "${QUORIN_SECRET_SERVICE_WRAPPER}")
endfunction()

# quorin_sanitize(<target>) builds a target, with the project sources compiled into it, under
# AddressSanitizer and UndefinedBehaviorSanitizer; register such a test with
# ENVIRONMENT ${QUORIN_SANITIZER_ENVIRONMENT}. QUORIN_HAVE_SANITIZERS tells whether the compiler can.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS "-fsanitize=address,undefined")
set(CMAKE_REQUIRED_LINK_OPTIONS "-fsanitize=address,undefined")
check_cxx_source_compiles("int main() { return 0; }" QUORIN_HAVE_SANITIZERS)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
set(QUORIN_SANITIZER_ENVIRONMENT
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1)
function(quorin_sanitize target)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
endfunction()
