// OpenGL calls made while no context is current do nothing, as on Windows:
// pondsim-wide sets GL_POINT_SMOOTH at every reseed, the first while the
// scene is built, before the window has its context. Emscripten's GL
// functions (and its emulation of the fixed-function pipeline) need one, so
// each import of the module that is one gets a guard. This runs after the
// imports are gathered and before the module is instantiated with them.
Object.keys(asmLibraryArg).forEach(function(key) {
  var call = asmLibraryArg[key];
  if (typeof call != 'function' || !/^_(emscripten_)?gl[A-Z]/.test(call.name)) return;
  asmLibraryArg[key] = function() { return GLctx ? call.apply(null, arguments) : 0; };
});
