#include "Platform/ThreadRole.h"

namespace {

thread_local ThreadRole::Role role = ThreadRole::Role::Ordinary;

} // namespace

void ThreadRole::set(Role newRole)
{
    role = newRole;
}

ThreadRole::Role ThreadRole::current()
{
    return role;
}

bool ThreadRole::mayWaitForMain()
{
    return role == Role::Ordinary;
}

bool ThreadRole::mayWait()
{
    return role != Role::HandOff;
}
