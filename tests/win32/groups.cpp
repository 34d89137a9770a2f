#include "tests/win32/host.h"

namespace host {

void register_export_groups(std::vector<Group>& out);
void register_table_groups(std::vector<Group>& out);
void register_date_groups(std::vector<Group>& out);
void register_plan_groups(std::vector<Group>& out);
void register_thread_groups(std::vector<Group>& out);

std::vector<Group> groups() {
    std::vector<Group> out;
    register_export_groups(out);
    register_table_groups(out);
    register_date_groups(out);
    register_plan_groups(out);
    register_thread_groups(out);
    return out;
}

}  // namespace host
