// Resource identifiers of the viewer.
#ifndef VS_RESOURCE_H
#define VS_RESOURCE_H

#define IDD_MAIN 102

#endif
