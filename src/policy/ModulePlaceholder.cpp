// Placeholder so the library has a source until its first type lands.
namespace wm {}
