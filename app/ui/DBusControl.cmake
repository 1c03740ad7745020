# The D-Bus control of the running application (included from app/ui's CMakeLists.txt).
find_package(Qt6 REQUIRED COMPONENTS Widgets DBus)
add_library(kv_dbuscontrol STATIC ${CMAKE_CURRENT_LIST_DIR}/CDBusControl.cpp ${CMAKE_CURRENT_LIST_DIR}/CDBusControl.h)
set_target_properties(kv_dbuscontrol PROPERTIES AUTOMOC ON)
target_include_directories(kv_dbuscontrol PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(kv_dbuscontrol PUBLIC kv_card Qt6::Widgets Qt6::DBus)
