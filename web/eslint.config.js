// Lint rules for the page: ESLint's and typescript-eslint's recommended sets, and the two
// rules of hooks (Preact's hooks follow the same call rules as React's). Formatting is left
// to prettier.
import js from '@eslint/js';
import reactHooks from 'eslint-plugin-react-hooks';
import { defineConfig, globalIgnores } from 'eslint/config';
import tseslint from 'typescript-eslint';

export default defineConfig(globalIgnores(['dist/']), js.configs.recommended, tseslint.configs.recommended, {
  files: ['**/*.{ts,tsx}'],
  plugins: { 'react-hooks': reactHooks },
  rules: {
    'react-hooks/rules-of-hooks': 'error',
    'react-hooks/exhaustive-deps': 'error',
  },
});
