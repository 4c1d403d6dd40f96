// The PIN dialog's resource identifiers. The dialog's code lives with the
// link (it answers AskPin); its template is in the window program's resource
// script, which takes these through ui/resource.h.
#pragma once

#define IDD_PIN 115
#define IDC_PIN_EDIT 1003
