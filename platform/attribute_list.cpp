#include "platform/attribute_list.h"

#include "platform/os_calls.h"
#include "platform/system_error.h"

AttributeList::AttributeList(DWORD count)
{
    // The first call only asks for the size, and fails as it answers.
    SIZE_T size = 0;
    Os().initializeProcThreadAttributeList(nullptr, count, 0, &size);
    storage_.resize(size);
    auto* const list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !Os().initializeProcThreadAttributeList(list, count, 0, &size)) {
        error_ = ErrorOfFailedCall();
        return;
    }
    list_ = list;
}

AttributeList::~AttributeList()
{
    if (list_ != nullptr) {
        ::DeleteProcThreadAttributeList(list_);
    }
}

DWORD AttributeList::Add(DWORD_PTR attribute, void* value, SIZE_T size)
{
    if (list_ == nullptr) {
        return error_;
    }
    return Os().updateProcThreadAttribute(list_, 0, attribute, value, size, nullptr, nullptr) ? ERROR_SUCCESS
                                                                                            : ErrorOfFailedCall();
}
