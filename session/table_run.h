// The run the plain transfer calls drive (transfer_calls.h): the one that goes
// through UpdateDiskTable, the one table those calls name. The last run begun
// over every calculator present is it, until it is gone. Private to session/.
#pragma once

class UpdateRun;

[[nodiscard]] UpdateRun* runOverUpdateDiskTable();
