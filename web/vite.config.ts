import { defineConfig } from 'vitest/config';

// The page is served from a folder beside the executable, under whatever host the
// front end uses, so every asset reference stays relative.
export default defineConfig({
  base: './',
  esbuild: { jsx: 'automatic', jsxImportSource: 'preact' },
  build: {
    target: 'es2020',
    outDir: 'dist',
    emptyOutDir: true,
    assetsInlineLimit: 0,
    chunkSizeWarningLimit: 200,
  },
  test: {
    include: ['test/**/*.test.{ts,tsx}'],
    environment: 'node',
    pool: 'threads',
    poolOptions: { threads: { singleThread: true } },
  },
});
