#pragma once
// A control of a page built when first shown (TPageControl::BuildOnFirstShow): naming it from
// code builds its page first, so a rule may read or focus it before the user has seen it.

#include <functional>

template <class T> class TBuiltOnUse {
public:
    // What builds the control's page; it assigns the control.
    void SetBuilder(std::function<void()> build) { m_build = std::move(build); }
    TBuiltOnUse& operator=(T* control) {
        m_control = control;
        return *this;
    }
    T* get() const {
        if (!m_control && m_build) m_build();
        return m_control;
    }
    T* operator->() const { return get(); }
    operator T*() const { return get(); }
    // Whether the page is built, without building it.
    bool Built() const { return m_control != nullptr; }

private:
    T* m_control = nullptr;
    std::function<void()> m_build;
};
