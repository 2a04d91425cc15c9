// Every layer library holds at least this translation unit, so a layer is a
// valid library while its folder is still being filled.
namespace qk_layer_anchor {
int anchor() { return 0; }
}
