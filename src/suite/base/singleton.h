#pragma once

// The suite's single-instance holder: Singleton<T>::instance() creates T on first use and keeps
// it for the life of the process.
template <typename T>
class Singleton {
public:
    static T& instance() {
        static T* object = new T;
        return *object;
    }
};
