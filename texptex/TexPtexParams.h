// TexPtexParams: the parameter table of the TexPtex texture (17 settings, the four mesh lists and
// the output "color"), registered with the host through the plug-in descriptor. One static object
// of it exists per loaded library.
#pragma once

#include <tarsk/TarskParameterListDesc.h>

class TexPtexParams : public TUtils::TarskParameterListDesc {
public:
    // Fills the table in its registration order; scenes and hosts see exactly these rows.
    TexPtexParams();
};
