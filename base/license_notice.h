// What both programs print after their name and version for --version: the
// licence in the short form GNU tools use. The full text is LICENSE, installed
// beside the programs (Windows) or as the package's copyright file (Linux).
#pragma once

constexpr char kLicenseNotice[] =
    "License: GPL-3.0-or-later <https://www.gnu.org/licenses/gpl-3.0.html>\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";
