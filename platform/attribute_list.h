#pragma once

#include <windows.h>

#include <vector>

// Sole owner of the attribute list a process is created with: room for a
// given number of attributes, deleted when it goes. Each value added must
// live as long as the list.
class AttributeList {
public:
    explicit AttributeList(DWORD count);
    ~AttributeList();
    AttributeList(const AttributeList&) = delete;
    AttributeList& operator=(const AttributeList&) = delete;

    // Why the list could not be made; ERROR_SUCCESS once it is.
    DWORD Error() const { return error_; }
    // Adds one attribute; returns why it could not be, or ERROR_SUCCESS.
    DWORD Add(DWORD_PTR attribute, void* value, SIZE_T size);
    // The list, or null where it could not be made.
    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }

private:
    std::vector<char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    DWORD error_ = ERROR_SUCCESS;
};
