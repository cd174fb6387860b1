#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace velto::app::test {

// Test classes of the one test program; ctest runs each by name.
struct RegisteredTest {
    const char* name;
    std::function<std::unique_ptr<QObject>()> make;
};

std::vector<RegisteredTest>& registeredTests();

template <typename T>
struct TestRegistration {
    explicit TestRegistration(const char* name) {
        registeredTests().push_back({name, [] { return std::make_unique<T>(); }});
    }
};

}  // namespace velto::app::test

#define VELTO_REGISTER_TEST(Class) \
    static const velto::app::test::TestRegistration<Class> registration##Class(#Class)
