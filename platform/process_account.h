#pragma once

enum class Account { LocalSystem, Other, Unknown };

// Which account this process runs as, as far as the user's part of a pass
// cares: the local system account (S-1-5-18), whose profile no person uses,
// or another.
Account QueryProcessAccount();
