/* The engine's own small objects: buffers and values, and the head that
 * gives single-interface objects their count. */
#ifndef SIM_ENGINE_OBJECTS_H
#define SIM_ENGINE_OBJECTS_H

#include "runtime.h"

/* The head of every engine object with a single interface: its table, its
 * count, the id it answers besides IUnknown, and what ends it. */
typedef struct SimSingle {
    const void* vtbl;
    volatile LONG refs;
    const GUID* iid;
    void (*destroy)(struct SimSingle* self);
    int kind; /* SimObjectKind */
} SimSingle;
/* Starts the count at one: the creator's reference. */
void SimSingleInit(SimSingle* s, const void* vtbl, const GUID* iid, int kind, void (*destroy)(SimSingle*));
HRESULT SIMCALL SimSingleQueryInterface(void* self, const GUID* iid, void** out);
ULONG SIMCALL SimSingleAddRef(void* self);
ULONG SIMCALL SimSingleRelease(void* self);

/* A new IRMABuffer holding a copy of the bytes (data may be null: zeros). */
void* SimBufferNew(const void* data, ULONG32 length);
/* A new IRMAValues with no properties, one reference. */
void* SimValuesNew(void);
/* Properties kept by values objects: the site embeds one. */
typedef struct SimProperty SimProperty;
typedef struct SimPropertyList {
    CRITICAL_SECTION lock;
    SimProperty* first;
    SimProperty* cursor[3];
} SimPropertyList;
void SimPropertiesInit(SimPropertyList* list);
void SimPropertiesFree(SimPropertyList* list);
/* Sets a text property without logging: the engine's own request values. */
void SimValuesSetText(void* values, const char* name, const char* text);
extern const ValuesVtbl kValuesVtbl;
/* The values interface of an object that embeds a property list after its
 * values face: the site uses this layout. */
typedef struct SimValuesFace {
    const ValuesVtbl* vtbl;
    Unknown* owner; /* QueryInterface, AddRef and Release go here */
    SimPropertyList props;
} SimValuesFace;
void SimValuesFaceInit(SimValuesFace* face, Unknown* owner);

#endif
