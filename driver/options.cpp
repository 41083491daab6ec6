#include "driver/options.h"

namespace {

PostInstallPart ReadPart(const std::wstring& value)
{
    if (value == L"machine") {
        return PostInstallPart::Machine;
    }
    return value == L"user" ? PostInstallPart::User : PostInstallPart::Unknown;
}

} // namespace

Options ReadOptions(const std::vector<std::wstring>& arguments)
{
    Options options;
    for (std::size_t name = 0; name + 1 < arguments.size(); name += 2) {
        const std::wstring& value = arguments[name + 1];
        options.names.push_back(arguments[name]);
        if (arguments[name] == L"-Post_install") {
            options.requestedPass = L"Post_install";
        } else if (arguments[name] == L"-uninstall") {
            options.requestedPass = L"uninstall";
        } else if (arguments[name] == L"-installDir") {
            options.installDir = value;
        } else if (arguments[name] == L"-failOnError") {
            options.failOnError = true;
        } else if (arguments[name] == L"-echo") {
            options.echo = true;
        } else if (arguments[name] == L"-postInstallPart") {
            options.part = ReadPart(value);
            options.partValue = value;
        } else if (arguments[name] == L"-recentProjectsTemplate") {
            options.recentProjectsTemplate = value;
        }
    }
    return options;
}
